% SPDX-License-Identifier: BSD-3-Clause

% What the Octave benchmarks share: the data of each plug-in family, the
% vectorised Octave code that does each plug-in's job (what a user would
% write without the toolbox), the jobs that pair them (align_job, fold_job,
% tally_job, bench_job), the comparisons of results, the settings read from
% the environment, reading the process's memory figures and writing results
% (jsonencode).
% A script of functions: source it, e.g.
%   source (fullfile (fileparts (mfilename ('fullpath')), 'bench_data.m'));

1; % a script file, not a function file

% ---------------------------------------------------------------- memory

function kb = status_kb (field)
  % A field of /proc/self/status in KiB.
  text = fileread ('/proc/self/status');
  tok = regexp (text, [field ':\s*(\d+) kB'], 'tokens', 'once');
  kb = str2double (tok{1});
end

function reset_peak ()
  fid = fopen ('/proc/self/clear_refs', 'w');
  if fid < 0
    error ('octave_bench: cannot reset the peak resident size');
  end
  fprintf (fid, '5');
  fclose (fid);
end

function b = bytes_of (x)
  % The data bytes of a matrix or a cell list of matrices.
  if iscell (x)
    b = sum (cellfun (@(e) bytes_of (e), x(:)));
  else
    b = 8 * numel (x);
  end
end

% ---------------------------------------------------------------- align_series

function [in1, in2, in3, in4] = align_data (entries, keys, V, E)
  % Keys 0, 1, 2, ... dealt out so that half of each key row is shared:
  % k mod 3 = 0 in both inputs 3 and 4, 1 in input 3 only, 2 in input 4 only.
  % Input 1 holds the even keys, input 2 the keys of input 3.
  k = 0:(3 * keys / 2 - 1);
  k3 = k(mod (k, 3) ~= 2);
  k4 = k(mod (k, 3) ~= 1);
  k1 = k(mod (k, 2) == 0);
  in1 = cell (entries, 1); in2 = in1; in3 = in1; in4 = in1;
  for i = 1:entries
    in1{i} = [k1; floor(rand(V, numel (k1)) * 1000) / 8];
    in2{i} = [k3; floor(rand(V, numel (k3)) * 1000) / 8];
    in3{i} = [k3; floor(rand(E - 1, numel (k3)) * 1000) / 8];
    in4{i} = [k4; floor(rand(E - 1, numel (k4)) * 1000) / 8];
  end
end

function out = align_octave (in1, in2, in3, in4)
  % Merged keys: the sorted union of the key rows of inputs 3 and 4; every
  % output takes its input's column where the key is present (ismember) and
  % the missing value elsewhere. For strictly ascending keys without NaN, and
  % inputs 1 and 2 whose keys all lie on the merged axis, this is the
  % plug-in's result.
  n = rows (in3);
  o1 = cell (n, 1); o2 = o1; o3 = o1; o4 = o1;
  ins = {in1, in2, in3, in4};
  fills = [NaN NaN 0 0];
  for i = 1:n
    keys = union (in3{i}(1, :), in4{i}(1, :));
    res = cell (1, 4);
    for o = 1:4
      t = ins{o}{i};
      r = fills(o) * ones (rows (t), numel (keys));   % NaN * 1 = NaN, 0 * 1 = 0
      r(1, :) = keys;
      [tf, loc] = ismember (keys, t(1, :));
      r(2:end, tf) = t(2:end, loc(tf));
      res{o} = r;
    end
    [o1{i}, o2{i}, o3{i}, o4{i}] = res{:};
  end
  out = {o1, o2, o3, o4};
end

% ---------------------------------------------------------------- fold_links_*

function [links, counts] = fold_data (nlinks, N, v, masked)
  % Random links over 1..N with v - 2 values each; in the masked case one
  % link in twenty has a NaN first value. The counts are taken from the links
  % (from the links that are taken, for the masked kernel).
  links = zeros (v, nlinks);
  links(1, :) = randi (N, 1, nlinks);
  links(2, :) = randi (N, 1, nlinks);
  links(3:end, :) = round (randn (v - 2, nlinks) * 1000) / 64;
  taken = true (1, nlinks);
  if masked
    nan_links = rand (1, nlinks) < 0.05;
    links(3, nan_links) = NaN;
    taken = ~nan_links;
  end
  counts = [accumarray(links(2, taken)', 1, [N 1])'; ...
            accumarray(links(1, taken)', 1, [N 1])'];
end

function folded = fold_one (bucket, partner, vals, N, last_value)
  % Files every link under BUCKET (stable sort keeps the link order within a
  % bucket) and folds it: a column opens where the partner end rises above
  % the running maximum of its bucket; the segmented running maximum comes
  % from one cummax over bucket * (N + 1) + partner. Values are summed per
  % column with accumarray (in link order, onto zero), or the last link's
  % values are kept.
  [bucket, order] = sort (bucket);
  partner = partner(order);
  vals = vals(:, order);
  key = bucket * (N + 1) + partner;
  running = cummax (key);
  opens = key > [-Inf, running(1:end-1)];
  col = cumsum (opens);
  ncols = 0;
  if ~isempty (col)
    ncols = col(end);
  end
  nv = rows (vals);
  folded_vals = zeros (nv, ncols);
  if last_value
    last = [col(2:end) ~= col(1:end-1), true];
    folded_vals(:, col(last)) = vals(:, last);
  else
    subs = [repmat(col(:), nv, 1), kron((1:nv)', ones (numel (col), 1))];
    folded_vals = accumarray (subs, reshape (vals', [], 1), [ncols nv])';
  end
  table = [partner(opens); folded_vals];
  per_index = accumarray (bucket(opens)', 1, [N 1]);
  folded = mat2cell (table, nv + 1, per_index)';
end

function out = fold_octave (links, N, masked)
  if masked
    links = links(:, ~isnan (links(3, :)));
  end
  first = fix (links(1, :));
  second = fix (links(2, :));
  vals = links(3:end, :);
  out = {fold_one(second, first, vals, N, false), fold_one(first, second, vals, N, masked)};
end

% ---------------------------------------------------------------- tally_pairs_*

function [W, S, R, r, F] = tally_data (G, per_entry, K, n, r)
  % Weights, class matrix with classes 1..r and some non-contributing zeros
  % and negatives, records naming random partner entries, one record in ten
  % a NaN record, factors F.
  W = rand (K, G);
  R = randi ([-1 r], K, K);
  F = 0.5 + rand (2, G);
  S = cell (G, 1);
  for g = 1:G
    E = round (randn (n, per_entry) * 100) / 16;
    E(1, :) = randi (G, 1, per_entry);
    E(2, rand (1, per_entry) < 0.1) = NaN;
    S{g} = E;
  end
end

function T = tally_octave (W, S, R, r, F, full)
  % All records side by side; per class c the weight of a record is
  % sum over k1, k2 with R(k1, k2) == c of W(k1, g) * W(k2, d), that is
  % sum (W(:, g) .* ((R == c) * W(:, d))), and the class column of the tally
  % is the record values times these weights. NaN records: the factor-weighted
  % weights summed, subtracted from the last row (full kernel only).
  G = columns (W);
  n = rows (S{1});
  m = cellfun (@columns, S(1:G));
  E = [S{1:G}];
  g = repelem (1:G, m(:)');
  d = fix (E(1, :));
  nanrec = isnan (E(2, :));
  Wg = W(:, g);
  Wd = W(:, d);
  vals = E(2:end, ~nanrec);
  T = zeros (n - ~full, r);
  for c = 1:r
    w = sum (Wg .* ((R == c) * Wd), 1);
    T(1:n-1, c) = vals * w(~nanrec)';
    if full
      T(n, c) = -sum (w(nanrec) .* F(2, g(nanrec)) .* F(1, d(nanrec)));
    end
  end
end

function w = tally_work (W, S, R, r, F_switch, full)
  % The operations that the order of a tally's terms leaves to do, for its
  % bound: the longest chain of dependent additions into one tally element
  % (every value record adds its column's pairs one after another into each
  % value row; every NaN record subtracts them from the last row), and the
  % multiplications and additions in all.
  G = columns (W);
  E = [S{1:G}];
  n = rows (E);
  nanrec = isnan (E(2, :));
  values = sum (! nanrec);
  nans = full * sum (nanrec);
  taken = R(R > 0 & R <= r);
  pairs = accumarray (fix (taken(:) - 1) + 1, 1, [fix(r) 1]);
  P = sum (pairs);
  w.chain = max ([values, nans] * max ([pairs; 0]));
  w.muls = values * P * n + nans * P * (1 + 2 * (F_switch != 0));
  w.adds = values * P * (n - 1) + nans * P;
end

% ---------------------------------------------------------------- settings

function s = env_number (name, default)
  s = default;
  v = getenv (name);
  if ~isempty (v)
    s = str2double (v);
    if ~isfinite (s) || s <= 0
      error ('bench: %s must be a positive number', name);
    end
  end
end

function d = env_dir (name, default)
  d = getenv (name);
  if isempty (d)
    d = default;
  end
  d = canonicalize_file_name (d);
  if isempty (d)
    error ('bench: %s: no such folder', name);
  end
end

% ---------------------------------------------------------------- align_series

function out = align_plugin (fn, in1, in2, in3, in4)
  [o1, o2, o3, o4] = fn (in1, in2, in3, in4);
  out = {o1, o2, o3, o4};
end

% ---------------------------------------------------------------- fold_links_*

function out = fold_plugin (fn, links, counts)
  [a, b] = fn (links, counts);
  out = {a, b};
end

% ---------------------------------------------------------------- comparison

function [ok, how] = same_cells (a, b)
  % Exact agreement of two cell lists of matrices (isequal: NaN differs from
  % NaN, so compare the NaN pattern and the rest separately).
  ok = isequal (size (a), size (b));
  for i = 1:numel (a)
    if ~ok, break; end
    x = a{i}; y = b{i};
    ok = isequal (size (x), size (y)) && isequal (isnan (x), isnan (y)) && ...
         isequal (x(~isnan (x)), y(~isnan (y)));
  end
  how = 'exact';
end

function [ok, how] = close_tally (a, b, tol)
  ok = isequal (size (a), size (b)) && all (isfinite (a(:))) && all (isfinite (b(:)));
  err = max (abs (a(:) - b(:))) / max (max (abs (b(:))), realmin);
  ok = ok && err <= tol;
  how = sprintf ('relative %.0e (max error %.1e of the largest element; other summation order)', tol, err);
end

% ---------------------------------------------------------------- the jobs

% Every job: its data (built afresh, from a fixed seed), how to call a
% compiled implementation FN on it (a cell of its outputs), its vectorised
% Octave code as a function of the data, and what the benchmark reports of it.
function job = align_job (entries, keys)
  rand ('state', 17); randn ('state', 17);
  [in1, in2, in3, in4] = align_data (entries, keys, 20, 10);
  job = struct ('name', 'align_series', 'plugin', 'align_series', ...
                'sizes', sprintf ('%d entries, %d keys in inputs 3 and 4 (half shared), V=20, E=10', ...
                                  entries, keys), ...
                'octave_code', 'union + ismember per list entry', 'exact', true);
  job.data = {in1, in2, in3, in4};
  job.call = @(fn, d) align_plugin (fn, d{:});
  job.octave = @(d) align_octave (d{:});
end

function job = fold_job (name, nlinks, N)
  rand ('state', 17); randn ('state', 17);
  masked = strcmp (name, 'fold_links_masked');
  [links, counts] = fold_data (nlinks, N, 6, masked);
  job = struct ('name', name, 'plugin', name, 'sizes', sprintf ('%d links, N=%d, v=6', nlinks, N), ...
                'octave_code', 'sort + cummax + cumsum + accumarray + mat2cell', 'exact', true);
  if masked
    job.sizes = [job.sizes ', 5% NaN links'];
  end
  job.data = {links, counts};
  job.call = @(fn, d) fold_plugin (fn, d{:});
  job.octave = @(d) fold_octave (d{1}, N, masked);
end

function job = tally_job (name, G, per_entry, K, n, r)
  % F_switch = 1 for tally_pairs_full.
  rand ('state', 17); randn ('state', 17);
  full = strcmp (name, 'tally_pairs_full');
  [W, S, R, rr, F] = tally_data (G, per_entry, K, n, r);
  job = struct ('name', name, 'plugin', name, ...
                'sizes', sprintf ('G=%d entries of %d records, K=%d, n=%d, r=%d, 10%% NaN records', ...
                                  G, per_entry, K, n, r), ...
                'octave_code', 'records side by side, one matrix product per class', 'exact', false);
  job.data = {W, S, R, rr};
  if full
    job.sizes = [job.sizes ', F_switch=1'];
    job.data = {W, S, R, rr, F, 1};
  end
  job.F = F;
  job.call = @(fn, d) {fn(d{:})};
  job.octave = @(d) {tally_octave(d{1}, d{2}, d{3}, d{4}, F, full)};
end

function job = bench_job (name, scale)
  % The benchmark's data of each plug-in at SCALE (octave_bench.m's sizes;
  % octave_fresh.m reuses them).
  switch name
    case 'align_series'
      job = align_job (max (1, round (1000 * scale)), 2000);
    case {'fold_links_masked', 'fold_links_full'}
      job = fold_job (name, max (10, round (2e6 * scale)), max (1, round (1e5 * scale)));
    otherwise
      job = tally_job (name, max (2, round (2000 * scale)), 20, 12, 6, 4);
  end
end

function [ok, how] = agree (a, b, exact)
  if exact
    ok = true;
    for o = 1:numel (a)
      ok = ok && same_cells (a{o}, b{o});
    end
    how = 'exact';
  else
    [ok, how] = close_tally (a{1}, b{1}, 1e-12);
  end
end

function ok = identical (a, b)
  % Bit for bit: classes, sizes and every bit of every element.
  ok = strcmp (class (a), class (b)) && isequal (size (a), size (b));
  if ~ok
    return;
  end
  if iscell (a)
    for k = 1:numel (a)
      ok = ok && identical (a{k}, b{k});
    end
  else
    ok = isequal (typecast (a(:), 'uint64'), typecast (b(:), 'uint64'));
  end
end

function write_json (file, value)
  % VALUE as JSON into FILE, its folder created where missing.
  folder = fileparts (file);
  if ~isempty (folder) && ~exist (folder, 'dir')
    mkdir (folder);
  end
  fid = fopen (file, 'w');
  if fid < 0
    error ('bench: cannot write %s', file);
  end
  fputs (fid, jsonencode (value));
  fclose (fid);
end
