% SPDX-License-Identifier: BSD-3-Clause

function [args, nout, kind] = plugin_case (name, kind)
% PLUGIN_CASE  A random argument list for plug-in NAME, drawn from Octave's
% rand state (seed it with rand ('state', SEED) for a repeatable sequence).
%
%   [ARGS, NOUT] = plugin_case (NAME, KIND) gives the arguments ARGS and the
%   number of outputs NOUT of one call of the given KIND:
%     0  valid input of a random shape: empty and single-entry lists, keys
%        with NaN, +-0, +-Inf, repeated and unordered keys, fractional index
%        values, surplus counts, NaN records, NaN payloads in the data
%     1  a wrong number of inputs
%     2  a wrong number of outputs
%     3  one argument of a wrong class or shape (text, integers, logical,
%        single, complex, sparse, struct, function handle, cells, N-d, ...)
%     4  one entry of a list argument of a wrong class or shape
%     5  a fault that only the plug-in's own checks see (an index out of
%        range, a count that does not fit the links, rows that differ, a
%        class number above r, too few elements, ...)
%     6  valid input with NaN, -NaN, NaN payloads, +-Inf, -0, huge values,
%        fractions or values at the 32-bit limits written over elements of
%        any numeric matrix, index values and counts included
%   [ARGS, NOUT, KIND] = plugin_case (NAME) draws the kind at random, valid
%   input half of the time.
%
% Sizes stay small: no case can make a plug-in create more than a few
% thousand elements (values just below 2^31 never stand for a size).
  if (nargin < 2)
    if (rand () < 0.5)
      kind = 0;
    else
      kind = ri (6);
    end
  end
  [args, nout] = valid_case (name);
  switch (kind)
    case 0
    case 1
      args = wrong_arg_count (args);
    case 2
      nout = wrong_out_count (name);
    case 3
      p = ri (numel (args));
      args{p} = pick (bad_values ());
    case 4
      args = bad_list_entry (args);
    case 5
      [args, nout] = own_fault (name, args, nout);
    case 6
      for t = 1:ri (3)
        args = overwrite_special (args);
      end
    otherwise
      error ('plugin_case: unknown kind %d', kind);
  end
end

% ---------------------------------------------------------------- values

% randi's job without its argument checks, which cost more than the rest
% of a case: whole numbers from 1 to N, a scalar or an R x C matrix.
function x = ri (n, r, c)
  if (nargin == 1)
    x = floor (rand () * n) + 1;
  else
    x = floor (rand (r, c) * n) + 1;
  end
end

function x = pick (list)
  if (iscell (list))
    x = list{randi(numel (list))};
  else
    x = list(ri (numel (list)));
  end
end

function v = specials ()
  % NaN with a payload and with its sign bit set, subnormals, the 32-bit
  % limits (2^31 and beyond are refused wherever they would be a size).
  persistent cached
  if (! isempty (cached))
    v = cached;
    return;
  end
  payload = typecast (bitor (bitshift (uint64 (2146959360), 32), uint64 (2748)), 'double');
  v = [0, -0, 1, -1, 0.5, 2.9, -0.5, NaN, -NaN, payload, -payload, Inf, -Inf, 1e300, -1e300, ...
       4.9e-324, 2.2e-308 / 3, 2^31, -2^31, 2^53 + 2, 1 / 3];
  cached = v;
end

function m = values (r, c)
  % Ordinary doubles of mixed magnitude, a fifth of them special values.
  m = randn (r, c) .* 10 .^ (ri (7, r, c) - 4);
  s = rand (r, c) < 0.2;
  sp = specials ();
  m(s) = sp(ri (numel (sp), nnz (s), 1));
end

function k = keys (n)
  % A key row, ascending most of the time (sort puts NaN last).
  pool = [-Inf, -1e300, -2, -0, 0, 1, 1, 2, 2.5, 3, 4, 7, 1e300, Inf, NaN];
  k = pool(ri (numel (pool), 1, n));
  if (rand () < 0.8)
    k = sort (k);
  end
end

function b = bad_values ()
  persistent cached
  if (! isempty (cached))
    b = cached;
    return;
  end
  b = {'text', 'E', int8(5), int32([1 2; 3 4]), uint8(1), true, [true false], single(2), ...
       single([1 2; 3 4]), 1i, [1 2] + 1i, sparse(1), sparse([1 0; 0 2]), struct('a', 1), ...
       @sin, [], {}, {[]}, {'x'}, {int8(1)}, {single([1; 2])}, {true}, {sparse([1; 2])}, ...
       cell(3, 1), {1i}, {{1}}, NaN, Inf, -Inf, -1, 0, 0.5, 1e300, 2^31, zeros(0, 3), ...
       zeros(3, 0), zeros(2, 2, 2), {zeros(2, 2, 2)}, {NaN; Inf}, {[1 2; 3 4]}, ...
       {[1 2; 3 4], [5; 6]}, [NaN Inf; -Inf NaN], cell(0, 2), zeros(1, 2, 0), ...
       zeros(2, 2, 0), {zeros(2, 2, 0)}, cell(1, 2, 0)};
  cached = b;
end

% ------------------------------------------------------------ valid input

function [args, nout] = valid_case (name)
  switch (name)
    case 'align_series'
      args = valid_align ();
      nout = 4;
    case {'fold_links_masked', 'fold_links_full'}
      args = valid_fold (strcmp (name, 'fold_links_masked'));
      nout = 2;
    case {'tally_pairs_full', 'tally_pairs_masked'}
      args = valid_tally (strcmp (name, 'tally_pairs_full'));
      nout = double (rand () < 0.8);
    otherwise
      error ('plugin_case: no argument generator for plug-in %s', name);
  end
end

function args = valid_align ()
  N = ri (3);
  E = ri (3);
  V = ri (4) - 1;
  in1 = cell (N, 1); in2 = cell (N, 1); in3 = cell (N, 1); in4 = cell (N, 1);
  for i = 1:N
    P = ri (7) - 1;
    Q = ri (7) - 1;
    k3 = keys (P);
    k4 = keys (Q);
    in3{i} = no_columns ([k3; values(E - 1, P)], i == 1);
    in4{i} = no_columns ([k4; values(E - 1, Q)], false);
    if (V > 0)
      % value tables keyed by some of the statistics keys, or by others
      pool = [k3, k4, keys(2)];
      in1{i} = no_columns (value_table (pool, V), i == 1);
      in2{i} = no_columns (value_table (pool, V), i == 1);
    end
  end
  if (N == 1 && rand () < 0.3)
    % input 3 as one row of tables: only its first one counts
    in3 = [in3, {[keys(2); values(E - 1, 2)]}];
  end
  if (V == 0)
    in1 = pick ({{}, cell(0, 1), []});
    in2 = pick ([{{}, 'unread'}, bad_values()]);
  end
  if (rand () < 0.2)
    % lists longer than input 3 (only its rows count)
    in4 = [in4; {[keys(1); values(E - 1, 1)]}];
  end
  args = {in1, in2, in3, in4};
end

function t = value_table (pool, V)
  c = ri (4) - 1;
  k = pool(ri (numel (pool), 1, c));
  if (rand () < 0.8)
    k = sort (k);
  end
  t = [k; values(V, c)];
end

function m = no_columns (m, keep_rows)
  % An entry without columns may have any shape, except where its rows count.
  if (columns (m) == 0 && ! keep_rows && rand () < 0.5)
    m = [];
  end
end

function args = valid_fold (masked)
  v = 2 + masked + ri (3) - 1;
  N = ri (6) - 1;
  n = (N > 0) * (ri (9) - 1);
  fracs = [0 0 0 0.5 0.9 0.999];
  a = ri (max (N, 1), 1, n);
  b = ri (max (N, 1), 1, n);
  links = [a + fracs(ri (6, 1, n)); b + fracs(ri (6, 1, n)); values(v - 2, n)];
  taken = true (1, n);
  if (masked && n > 0)
    nan_links = rand (1, n) < 0.25;
    sp = specials ();
    links(3, nan_links) = pick (sp(isnan (sp)));
    taken = ! nan_links;
  end
  counts = zeros (2, N);
  for j = find (taken)
    counts(1, b(j))++;
    counts(2, a(j))++;
  end
  if (rand () < 0.3 && any (counts(:)))
    % surplus columns in a bucket that receives links
    f = find (counts);
    counts(f(ri (numel (f)))) += ri (2);
  end
  if (rand () < 0.2)
    counts += 0.5 * (rand (2, N) < 0.5);    % fractions are truncated
  end
  args = {links, counts};
end

function args = valid_tally (full)
  K = ri (4) - 1;
  G = ri (4) - 1;
  n = ri (3) + 1;
  r = ri (4) - 1;
  classes = [0, -0, -1, NaN, 0.5, 1, 1.7, 2, 2.5, 3];
  if (rand () < 0.25)
    % Wider tables reach every layout of the vector paths: up to 18 weights
    % per entry, 40 values per record and 9 classes.
    K = ri (18);
    n = ri (40) + 1;
    r = ri (9);
    classes = [0, -1, 0.5, 1:9, 2.5];
  elseif (rand () < 0.3)
    % Tables that no plan of contributing pairs holds: K = 70 with every
    % pair contributing (4900 pairs), or more than 1024 classes.
    G = ri (3);
    n = ri (40) + 1;
    if (rand () < 0.5)
      K = 70;
      r = ri (9);
      classes = [1:9, 2.5];
    else
      % few rows, so that the tally stays small (the soak test's memory)
      K = ri (18);
      n = ri (3) + 1;
      r = 1024 + ri (600);
      classes = [0, 1:r];
    end
  end
  W = values (K, G);
  classes = classes(! (classes > r));
  R = classes(ri (numel (classes), K, K));
  if (rand () < 0.15)
    r += 0.9;                               % r is truncated
  end
  list = cell (1, max (G, 1));
  for g = 1:max (G, 1)
    m = (G > 0) * (ri (4) - 1);
    if (G == 0)
      m = ri (3) - 1;                    % entry 1 is never read
    end
    partners = ri (max (G, 1), 1, m) + 0.9 * (rand (1, m) < 0.2);
    markers = values (1, m);
    nan_rec = rand (1, m) < 0.3;
    markers(nan_rec) = NaN;
    e = [partners; markers; values(n - 2, m)];
    if (! full && any (nan_rec) && rand () < 0.5)
      e(1, find (nan_rec, 1)) = pick ([0, -5, NaN, 1e300]);  % never read
    end
    if (m == 0 && g > 1 && rand () < 0.5)
      e = [];
    end
    list{g} = e;
  end
  if (rand () < 0.5)
    list = list(:);
  end
  if (full)
    args = {W, list, R, r, values(2, G), pick([0, -0, 1, NaN, 2, -1])};
  else
    args = {W, list, R, r};
  end
end

% ------------------------------------------------------------------ faults

function args = wrong_arg_count (args)
  k = numel (args);
  while (k == numel (args))
    k = ri (8) - 1;
  end
  if (k < numel (args))
    args = args(1:k);
  else
    for p = numel (args) + 1:k
      args{p} = args{randi(numel (args))};
    end
  end
end

function nout = wrong_out_count (name)
  switch (name)
    case 'align_series'
      nout = pick ([0 1 2 3 5]);
    case {'fold_links_masked', 'fold_links_full'}
      nout = pick ([0 1 3 4 5]);
    otherwise
      nout = pick ([2 3 4 5]);
  end
end

function args = bad_list_entry (args)
  lists = find (cellfun (@iscell, args));
  if (isempty (lists))
    p = ri (numel (args));
    args{p} = {pick(bad_values ())};
    return;
  end
  p = lists(ri (numel (lists)));
  if (isempty (args{p}))
    args{p} = {pick(bad_values ())};
  else
    args{p}{randi(numel (args{p}))} = pick (bad_values ());
  end
end

function args = overwrite_special (args)
  % Overwrites one element of a random non-empty numeric matrix (an
  % argument or a list entry) with a special value.
  slots = {};
  for p = 1:numel (args)
    if (isnumeric (args{p}) && ! isempty (args{p}))
      slots{end+1} = [p 0];
    elseif (iscell (args{p}))
      for q = 1:numel (args{p})
        if (isnumeric (args{p}{q}) && ! isempty (args{p}{q}))
          slots{end+1} = [p q];
        end
      end
    end
  end
  if (isempty (slots))
    return;
  end
  s = pick (slots);
  sp = specials ();
  if (s(2) == 0)
    args{s(1)}(ri (numel (args{s(1)}))) = pick (sp);
  else
    args{s(1)}{s(2)}(ri (numel (args{s(1)}{s(2)}))) = pick (sp);
  end
end

function [args, nout] = own_fault (name, args, nout)
  switch (name)
    case 'align_series'
      args = align_fault (args);
    case {'fold_links_masked', 'fold_links_full'}
      args = fold_fault (args, strcmp (name, 'fold_links_masked'));
    otherwise
      args = tally_fault (args, strcmp (name, 'tally_pairs_full'));
  end
end

function args = align_fault (args)
  E = rows (args{3}{1});
  switch (ri (5))
    case 1    % no statistics, or a first statistics table without rows
      args{3} = pick ({{}, cell(0, 1), {zeros(0, 2)}, {[]}, []});
    case 2    % a later entry with other rows than its list's first
      args{3} = [args{3}(:); {ones(E + 1, 2)}];
      args{4} = [args{4}(:); {[1; 2]}];
      args{1} = pick ({args{1}, {[1 2; 3 4]; [1 2 3; 4 5 6; 7 8 9]}});
    case 3    % a list shorter than input 3
      args{3} = [args{3}(:); {ones(E, 1)}; {ones(E, 1)}];
      args{4} = args{4}(1);
    case 4    % a first value table without rows, or value lists too short
      args{1} = pick ({{zeros(0, 3)}, {zeros(0, 0)}});
      args{2} = pick ({{}, {[1; 2]}});
    case 5    % input 2 not a list while input 1 has value rows
      args{1} = {[1 2; 3 4]};
      args{2} = pick ({[1 2; 3 4], 'x', {int8([1; 2])}, {}});
  end
end

function args = fold_fault (args, masked)
  links = args{1};
  counts = args{2};
  N = columns (counts);
  if (columns (links) == 0 && N > 0)
    links = [1; 1; values(rows (links) - 2, 1)];
    counts(:, 1) += 1;
  end
  switch (ri (6))
    case 1    % an end outside 1..N
      if (columns (links) > 0)
        links(ri (2), ri (columns (links))) = pick ([0, -1, 0.999, N + 1, N + 1.5, NaN, ...
                                                           -NaN, Inf, -Inf, 1e300, 2^31, -2^31]);
        if (masked)
          links(3, :) = 1;
        end
      else
        counts = [1; 1];
        links = [2; 1; 1];
      end
    case 2    % a count that is no count
      if (N == 0)
        counts = [0; 0];
      end
      counts(ri (numel (counts))) = pick ([-1, -0.5, NaN, Inf, -Inf, 2^31, 1e300]);
    case 3    % a bucket too small for its links
      f = find (counts >= 1);
      if (isempty (f))
        counts = [0; 0];
        links = [1; 1; 5];
      else
        counts(f(ri (numel (f)))) -= 1;
        if (masked)
          links(3, :) = 1;
        end
      end
    case 4    % a count matrix of other than 2 rows
      counts = pick ({counts(1, :), [counts; counts], zeros(0, N), counts(:)'});
    case 5    % too few link rows
      links = links(1:ri (2 + masked) - 1, :);
    case 6    % a positive count that receives no link
      if (N == 0)
        counts = [0; 0];
      end
      counts(ri (numel (counts))) += 1 + ri (2);
  end
  args = {links, counts};
end

function args = tally_fault (args, full)
  W = args{1};
  [K, G] = size (W);
  list = args{2};
  switch (ri (8))
    case 1    % a partner index outside 1..G in a value record
      list{1} = [pick([0, -1, 0.5, G + 1, G + 2.5, NaN, -NaN, Inf, -Inf, 1e300, 2^31]); 1; ...
                 ones(rows (list{1}) - 2, 1)];
      if (G == 0)
        W = ones (max (K, 1), 1);
        args{3} = ones (max (K, 1));
      end
    case 2    % a class number above r reached by a record
      r = floor (args{4});
      n = max (rows (list{1}), 2);
      K = max (K, 1);
      W = ones (K, 1);
      list = {[1; 1; ones(n - 2, 1)]};
      R = ones (K);
      R(ri (numel (R))) = r + pick ([1, 0.5, 1e300, Inf]);
      args{3} = R;
      if (full)
        args{5} = ones (2, 1);
        list{1} = [list{1}, [1; NaN; ones(n - 2, 1)]](:, ri (2):end);
      end
    case 3    % fewer than 2 rows in entry 1
      list{1} = pick ({zeros(1, 2), zeros(0, 2), [], ones(1, 0)});
    case 4    % R with fewer than K x K elements
      W = ones (K + 1, G);
      args{3} = ones (K);
    case 5    % F with fewer than 2 x G elements, or a list shorter than G
      if (full && rand () < 0.5)
        args{5} = ones (1, G);
      else
        W = ones (K, numel (list) + 1);
        if (full)
          args{5} = ones (2, columns (W));
        end
      end
    case 6    % r that is no class count
      args{4} = pick ({-1, -1.5, NaN, Inf, -Inf, 2^31, 1e300, 'x', {}, [], {2}, [1 2], 1i, ...
                       @sin, struct('a', 1), true, int8(3), single(2.5), complex(1, 0)});
    case 7    % an entry with other rows than entry 1
      n = rows (list{1});
      list{end+1} = ones (n + 1, 2);
      W = ones (K, numel (list));
      if (full)
        args{5} = ones (2, numel (list));
      end
    case 8    % F_switch that is no number, or the list not a cell
      if (full && rand () < 0.5)
        args{6} = pick ({'x', {}, [], {1}, [1 2], struct('a', 1), 1i, @sin, false, ...
                         uint8(2), '0'});
      else
        list = pick ({[1; 2], 'x', struct('a', {1}), list{1}});
      end
  end
  args{1} = W;
  args{2} = list;
end
