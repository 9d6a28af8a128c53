% Times each plug-in of the toolbox against plain vectorised Octave code that
% does the same job (what a user would write without the toolbox), on the
% same data, and checks that the two agree.
%
% Run with the built plug-ins on the path, given as absolute paths (run()
% changes into this script's folder); without them, <project>/build/octave is
% used:
%   scripts/octave-cli-quiet --eval "addpath('$PWD/build/octave'); run('$PWD/bench/octave_bench.m')"
%
% Environment (optional):
%   OCTAVE_BENCH_SCALE  factor on the data sizes (default 1; 0.1 for a smoke run)
%   OCTAVE_BENCH_RUNS   runs per implementation, the best counts (default 3)
%   OCTAVE_BENCH_OUT    results file (default <build>/bench-results/octave.json,
%                       <build> being the folder above the plug-ins)
%
% Sizes at scale 1:
%   align_series       1,000 entries; 2,000 keys in each of inputs 3 and 4,
%                      half of them shared; V = 20, E = 10
%   fold_links_*       2,000,000 links over N = 100,000 indices, v = 6
%   tally_pairs_*      G = 2,000 entries of 20 records, K = 12, n = 6, r = 4,
%                      one record in ten a NaN record; F_switch = 1

1; % a script file, not a function file

function s = env_number (name, default)
  s = default;
  v = getenv (name);
  if ~isempty (v)
    s = str2double (v);
    if ~isfinite (s) || s <= 0
      error ('octave_bench: %s must be a positive number', name);
    end
  end
end

function ok = plugin_built (name)
  % 3: a compiled function (MEX file) of that name is on the path.
  ok = exist (name, 'file') == 3;
end

function [t, out] = best_time (fn, runs)
  % Best wall-clock time of RUNS whole calls; the result of the last run.
  t = Inf;
  out = {};
  for k = 1:runs
    out = {};            % let the previous results go before the next call
    tic;
    out = fn ();
    t = min (t, toc);
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

function out = align_plugin (in1, in2, in3, in4)
  [o1, o2, o3, o4] = align_series (in1, in2, in3, in4);
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

function out = fold_plugin (fn, links, counts)
  [a, b] = fn (links, counts);
  out = {a, b};
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

% ---------------------------------------------------------------- main

% run() changes into this script's folder, which breaks a relative addpath
% made before it; fall back on the project's build folder then.
here = fileparts (mfilename ('fullpath'));
if isempty (which ('align_series')) && exist (fullfile (here, '..', 'build', 'octave'), 'dir')
  addpath (canonicalize_file_name (fullfile (here, '..', 'build', 'octave')));
end

scale = env_number ('OCTAVE_BENCH_SCALE', 1);
runs = round (env_number ('OCTAVE_BENCH_RUNS', 3));
out_file = getenv ('OCTAVE_BENCH_OUT');
if isempty (out_file)
  where = which ('align_series');
  if isempty (where)
    where = fullfile (here, '..', 'build', 'octave', 'x');
  end
  out_file = fullfile (fileparts (fileparts (where)), 'bench-results', 'octave.json');
end
rand ('state', 17); randn ('state', 17);

results = struct ('name', {}, 'status', {}, 'sizes', {}, 'plugin_s', {}, 'octave_s', {}, ...
                  'ratio', {}, 'agree', {}, 'check', {}, 'note', {});

function results = add_result (results, name, status, sizes, tp, to, agree, check, note)
  k = numel (results) + 1;
  results(k).name = name;
  results(k).status = status;
  results(k).sizes = sizes;
  results(k).plugin_s = tp;
  results(k).octave_s = to;
  results(k).ratio = to / tp;
  results(k).agree = agree;
  results(k).check = check;
  results(k).note = note;
end

fprintf ('Plug-ins against vectorised Octave code: best of %d runs (tic/toc), scale %g\n', runs, scale);

% align_series
name = 'align_series';
entries = max (1, round (1000 * scale));
sizes = sprintf ('%d entries, 2000 keys in inputs 3 and 4 (half shared), V=20, E=10', entries);
if plugin_built (name)
  [in1, in2, in3, in4] = align_data (entries, 2000, 20, 10);
  [tp, ro] = best_time (@() align_plugin (in1, in2, in3, in4), runs);
  [to, rv] = best_time (@() align_octave (in1, in2, in3, in4), runs);
  ok = true;
  for o = 1:4
    [ok_o, how] = same_cells (ro{o}, rv{o});
    ok = ok && ok_o;
  end
  results = add_result (results, name, 'ok', sizes, tp, to, ok, how, ...
                        'union + ismember per list entry');
  clear in1 in2 in3 in4 ro rv;
else
  results = add_result (results, name, 'not built', sizes, NaN, NaN, false, '', 'skipped');
end

% fold_links_masked and fold_links_full
nlinks = max (10, round (2e6 * scale));
N = max (1, round (1e5 * scale));
for masked = [true false]
  if masked
    name = 'fold_links_masked';
  else
    name = 'fold_links_full';
  end
  sizes = sprintf ('%d links, N=%d, v=6', nlinks, N);
  if masked
    sizes = [sizes ', 5% NaN links'];
  end
  if plugin_built (name)
    [links, counts] = fold_data (nlinks, N, 6, masked);
    fn = str2func (name);
    [tp, ro] = best_time (@() fold_plugin (fn, links, counts), runs);
    [to, rv] = best_time (@() fold_octave (links, N, masked), runs);
    [ok1, how] = same_cells (ro{1}, rv{1});
    ok2 = same_cells (ro{2}, rv{2});
    results = add_result (results, name, 'ok', sizes, tp, to, ok1 && ok2, how, ...
                          'sort + cummax + cumsum + accumarray + mat2cell');
    clear links counts ro rv;
  else
    results = add_result (results, name, 'not built', sizes, NaN, NaN, false, '', 'skipped');
  end
end

% tally_pairs_full and tally_pairs_masked
G = max (2, round (2000 * scale));
K = 12; n = 6; r = 4;
for full = [true false]
  if full
    name = 'tally_pairs_full';
  else
    name = 'tally_pairs_masked';
  end
  sizes = sprintf ('G=%d entries of 20 records, K=%d, n=%d, r=%d, 10%% NaN records', G, K, n, r);
  if full
    sizes = [sizes ', F_switch=1'];
  end
  if plugin_built (name)
    [W, S, R, rr, F] = tally_data (G, 20, K, n, r);
    if full
      [tp, ro] = best_time (@() {tally_pairs_full(W, S, R, rr, F, 1)}, runs);
    else
      [tp, ro] = best_time (@() {tally_pairs_masked(W, S, R, rr)}, runs);
    end
    [to, rv] = best_time (@() {tally_octave(W, S, R, rr, F, full)}, runs);
    [ok, how] = close_tally (ro{1}, rv{1}, 1e-12);
    results = add_result (results, name, 'ok', sizes, tp, to, ok, how, ...
                          'records side by side, one matrix product per class');
    clear W S R F ro rv;
  else
    results = add_result (results, name, 'not built', sizes, NaN, NaN, false, '', 'skipped');
  end
end

% Table
fprintf ('\n%-20s %12s %12s %10s  %-6s %s\n', 'plug-in', 'plug-in s', 'Octave s', 'ratio', 'agree', 'check');
for k = 1:numel (results)
  x = results(k);
  if ~strcmp (x.status, 'ok')
    fprintf ('%-20s %12s %12s %10s  %-6s %s\n', x.name, '-', '-', '-', '-', ...
             'skipped: plug-in not built');
    continue;
  end
  agree = 'yes';
  if ~x.agree, agree = 'NO'; end
  fprintf ('%-20s %12.4f %12.4f %9.1fx  %-6s %s\n', x.name, x.plugin_s, x.octave_s, x.ratio, agree, x.check);
end
fprintf ('ratio = Octave time / plug-in time (higher: the plug-in is faster)\n');
for k = 1:numel (results)
  fprintf ('  %-20s %s; Octave code: %s\n', results(k).name, results(k).sizes, results(k).note);
end

% Results file (JSON, written by hand to stay independent of the Octave version)
function s = jstr (x)
  s = ['"' strrep(strrep (x, '\', '\\'), '"', '\"') '"'];
end
function s = jnum (x)
  if isfinite (x)
    s = sprintf ('%.6g', x);
  else
    s = 'null';
  end
end
[folder] = fileparts (out_file);
if ~isempty (folder) && ~exist (folder, 'dir')
  mkdir (folder);
end
fid = fopen (out_file, 'w');
if fid < 0
  error ('octave_bench: cannot write %s', out_file);
end
fprintf (fid, '{\n  "tool": "octave_bench",\n  "octave_version": %s,\n  "scale": %s,\n  "runs": %d,\n', ...
         jstr (OCTAVE_VERSION), jnum (scale), runs);
fprintf (fid, '  "timing": "best wall-clock time (tic/toc) of the runs",\n  "results": [\n');
for k = 1:numel (results)
  x = results(k);
  fprintf (fid, '    {"name": %s, "status": %s, "sizes": %s, "plugin_s": %s, "octave_s": %s, "ratio": %s, "agree": %s, "check": %s, "octave_code": %s}', ...
           jstr (x.name), jstr (x.status), jstr (x.sizes), jnum (x.plugin_s), jnum (x.octave_s), ...
           jnum (x.ratio), mat2str (logical (x.agree)), jstr (x.check), jstr (x.note));
  if k < numel (results)
    fprintf (fid, ',\n');
  else
    fprintf (fid, '\n');
  end
end
fprintf (fid, '  ]\n}\n');
fclose (fid);
fprintf ('Results written to %s\n', out_file);
