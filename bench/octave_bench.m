% SPDX-License-Identifier: BSD-3-Clause

% Times each plug-in of the toolbox three ways on the same data: the native
% Octave function, the MEX file in Octave, and plain vectorised Octave code
% that does the same job (what a user would write without the toolbox). It
% checks that the native and MEX results are identical bit for bit and that
% the vectorised code agrees, and measures each call's peak memory in a
% fresh Octave process.
%
% Run with absolute paths (run() changes into this script's folder):
%   OCTAVE_BENCH_NATIVE=$PWD/build/octave OCTAVE_BENCH_MEX=$PWD/build/octave-mex \
%     scripts/octave-cli-quiet --eval "run('$PWD/bench/octave_bench.m')"
%
% Environment:
%   OCTAVE_BENCH_NATIVE  the native toolbox folder (default <project>/build/octave)
%   OCTAVE_BENCH_MEX     the MEX toolbox folder (default <project>/build/octave-mex)
%   OCTAVE_BENCH_SCALE   factor on the data sizes (default 1; 0.1 for a smoke run)
%   OCTAVE_BENCH_RUNS    timed runs of each implementation, the best counts (default 3)
%   OCTAVE_BENCH_OUT     results file (default <build>/bench-results/octave.json)
%   OCTAVE_BENCH_MEMORY  set by the script itself for the child process that
%                        measures one call's memory: "<implementation>:<plug-in>"
%   OCTAVE_BENCH_LIBRARY when set, the script defines its functions (data,
%                        vectorised code, comparisons) and stops there
%
% Timing: one warm-up call of each implementation, then RUNS rounds that call
% the three in turn, the order rotating from round to round (the allocator
% favours whichever runs second); the best time of each counts.
%
% Memory: a fresh octave-cli per plug-in and implementation builds the data,
% resets the process's peak resident size (/proc/self/clear_refs), makes one
% call and reads the peak (VmHWM). The call's peak is that peak less the
% resident size just before the call.
%
% Sizes at scale 1:
%   align_series       1,000 entries; 2,000 keys in each of inputs 3 and 4,
%                      half of them shared; V = 20, E = 10
%   fold_links_*       2,000,000 links over N = 100,000 indices, v = 6
%   tally_pairs_*      G = 2,000 entries of 20 records, K = 12, n = 6, r = 4,
%                      one record in ten a NaN record; F_switch = 1

1; % a script file, not a function file

% The data generators and the vectorised Octave code (shared with
% octave_scaling.m).
source (fullfile (fileparts (mfilename ('fullpath')), 'bench_data.m'));

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

function d = env_dir (name, default)
  d = getenv (name);
  if isempty (d)
    d = default;
  end
  d = canonicalize_file_name (d);
  if isempty (d)
    error ('octave_bench: %s: no such folder', name);
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

% Every job: its data (built afresh, from a fixed seed) and its three
% implementations as functions of that data.
function job = make_job (name, scale)
  rand ('state', 17); randn ('state', 17);
  job.name = name;
  switch name
    case 'align_series'
      entries = max (1, round (1000 * scale));
      job.sizes = sprintf ('%d entries, 2000 keys in inputs 3 and 4 (half shared), V=20, E=10', entries);
      [in1, in2, in3, in4] = align_data (entries, 2000, 20, 10);
      job.data = {in1, in2, in3, in4};
      job.call = @(fn, d) align_plugin (fn, d{:});
      job.octave = @(d) align_octave (d{:});
      job.octave_code = 'union + ismember per list entry';
      job.exact = true;
    case {'fold_links_masked', 'fold_links_full'}
      masked = strcmp (name, 'fold_links_masked');
      nlinks = max (10, round (2e6 * scale));
      N = max (1, round (1e5 * scale));
      job.sizes = sprintf ('%d links, N=%d, v=6', nlinks, N);
      if masked
        job.sizes = [job.sizes ', 5% NaN links'];
      end
      [links, counts] = fold_data (nlinks, N, 6, masked);
      job.data = {links, counts};
      job.call = @(fn, d) fold_plugin (fn, d{:});
      job.octave = @(d) fold_octave (d{1}, N, masked);
      job.octave_code = 'sort + cummax + cumsum + accumarray + mat2cell';
      job.exact = true;
    otherwise
      full = strcmp (name, 'tally_pairs_full');
      G = max (2, round (2000 * scale));
      K = 12; n = 6; r = 4;
      job.sizes = sprintf ('G=%d entries of 20 records, K=%d, n=%d, r=%d, 10%% NaN records', G, K, n, r);
      [W, S, R, rr, F] = tally_data (G, 20, K, n, r);
      if full
        job.sizes = [job.sizes ', F_switch=1'];
        job.data = {W, S, R, rr, F, 1};
      else
        job.data = {W, S, R, rr};
      end
      job.call = @(fn, d) {fn(d{:})};
      job.octave = @(d) {tally_octave(d{1}, d{2}, d{3}, d{4}, F, full)};
      job.octave_code = 'records side by side, one matrix product per class';
      job.exact = false;
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

% ---------------------------------------------------------------- main

% Another benchmark script may source this file for the functions above
% alone (bench/octave_fresh.m sets OCTAVE_BENCH_LIBRARY).
if ~isempty (getenv ('OCTAVE_BENCH_LIBRARY'))
  return;
end

here = fileparts (mfilename ('fullpath'));
native_dir = env_dir ('OCTAVE_BENCH_NATIVE', fullfile (here, '..', 'build', 'octave'));
mex_dir = env_dir ('OCTAVE_BENCH_MEX', fullfile (here, '..', 'build', 'octave-mex'));
scale = env_number ('OCTAVE_BENCH_SCALE', 1);
runs = round (env_number ('OCTAVE_BENCH_RUNS', 3));
plugins = {'align_series', 'fold_links_masked', 'fold_links_full', 'tally_pairs_full', ...
           'tally_pairs_masked'};
impls = {'native', 'mex', 'octave'};

% Both builds in one process: the native functions under their own names,
% the MEX files copied under <name>_viamex.
addpath (native_dir);
mex_copy = tempname ();
mkdir (mex_copy);
for k = 1:numel (plugins)
  copyfile (fullfile (mex_dir, [plugins{k} '.mex']), fullfile (mex_copy, [plugins{k} '_viamex.mex']));
end
addpath (mex_copy);
function fn = impl_function (impl, name)
  if strcmp (impl, 'native')
    fn = str2func (name);
  else
    fn = str2func ([name '_viamex']);
  end
end
function out = run_impl (job, impl)
  if strcmp (impl, 'octave')
    out = job.octave (job.data);
  else
    out = job.call (impl_function (impl, job.name), job.data);
  end
end

% The child process of one memory measurement.
measure = getenv ('OCTAVE_BENCH_MEMORY');
if ~isempty (measure)
  parts = strsplit (measure, ':');
  job = make_job (parts{2}, scale);
  input_bytes = bytes_of (job.data);
  reset_peak ();
  before = status_kb ('VmRSS');
  out = run_impl (job, parts{1});
  peak = status_kb ('VmHWM');
  printf ('memory %.0f %.0f %.0f\n', (peak - before) * 1024, input_bytes, bytes_of (out));
  exit (0);
end

out_file = getenv ('OCTAVE_BENCH_OUT');
if isempty (out_file)
  out_file = fullfile (fileparts (native_dir), 'bench-results', 'octave.json');
end
octave_cli = fullfile (here, '..', 'scripts', 'octave-cli-quiet');

fprintf ('Native functions, MEX files and vectorised Octave code: best of %d rounds, scale %g\n', runs, scale);
results = {};
for k = 1:numel (plugins)
  job = make_job (plugins{k}, scale);
  res = struct ('name', job.name, 'sizes', job.sizes, 'octave_code', job.octave_code);
  % Warm-up, and the results compared.
  out = cell (1, 3);
  for m = 1:3
    out{m} = run_impl (job, impls{m});
  end
  res.identical = identical (out{1}, out{2});
  [res.agree, res.check] = agree (out{1}, out{3}, job.exact);
  out = {};
  best = inf (1, 3);
  for round_ = 1:runs
    for m = circshift (1:3, [0, round_ - 1])
      tic;
      r = run_impl (job, impls{m});
      best(m) = min (best(m), toc);
      r = [];
    end
  end
  res.native_s = best(1);
  res.mex_s = best(2);
  res.octave_s = best(3);
  clear job;
  % Peak memory of one call of each implementation, in a fresh process.
  for m = 1:3
    cmd = sprintf ('OCTAVE_BENCH_MEMORY=%s:%s OCTAVE_BENCH_SCALE=%g OCTAVE_BENCH_NATIVE=%s OCTAVE_BENCH_MEX=%s %s --eval "run(''%s'')"', ...
                   impls{m}, plugins{k}, scale, native_dir, mex_dir, octave_cli, ...
                   fullfile (here, 'octave_bench.m'));
    [status, text] = system (cmd);
    tok = regexp (text, 'memory (\d+) (\d+) (\d+)', 'tokens', 'once');
    if status ~= 0 || isempty (tok)
      error ('octave_bench: the memory measurement of %s (%s) failed:\n%s', plugins{k}, impls{m}, text);
    end
    mem = str2double (tok);
    res.([impls{m} '_peak_bytes']) = mem(1);
    res.input_bytes = mem(2);
    res.output_bytes = mem(3);
  end
  results{end+1} = res;
  fprintf ('%-20s native %8.4f s  MEX %8.4f s  Octave %8.4f s  native/MEX %5.1fx  native/Octave %5.1fx  identical %d  agree %d\n', ...
           res.name, res.native_s, res.mex_s, res.octave_s, res.mex_s / res.native_s, ...
           res.octave_s / res.native_s, res.identical, res.agree);
  fprintf ('%-20s peak per call: native %.0f MB, MEX %.0f MB, Octave %.0f MB; inputs %.0f MB, outputs %.0f MB\n', ...
           '', res.native_peak_bytes / 1e6, res.mex_peak_bytes / 1e6, res.octave_peak_bytes / 1e6, ...
           res.input_bytes / 1e6, res.output_bytes / 1e6);
end
rmpath (mex_copy);
confirm_recursive_rmdir (false, 'local');
rmdir (mex_copy, 's');

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
folder = fileparts (out_file);
if ~isempty (folder) && ~exist (folder, 'dir')
  mkdir (folder);
end
fid = fopen (out_file, 'w');
if fid < 0
  error ('octave_bench: cannot write %s', out_file);
end
fprintf (fid, '{\n  "tool": "octave_bench",\n  "octave_version": %s,\n  "scale": %s,\n  "runs": %d,\n  "results": [\n', ...
         jstr (OCTAVE_VERSION), jnum (scale), runs);
for k = 1:numel (results)
  x = results{k};
  fprintf (fid, '    {"name": %s, "sizes": %s, "octave_code": %s, "native_s": %s, "mex_s": %s, "octave_s": %s, ', ...
           jstr (x.name), jstr (x.sizes), jstr (x.octave_code), jnum (x.native_s), jnum (x.mex_s), jnum (x.octave_s));
  fprintf (fid, '"identical": %s, "agree": %s, "check": %s, "native_peak_bytes": %s, "mex_peak_bytes": %s, "octave_peak_bytes": %s, "input_bytes": %s, "output_bytes": %s}', ...
           mat2str (logical (x.identical)), mat2str (logical (x.agree)), jstr (x.check), ...
           jnum (x.native_peak_bytes), jnum (x.mex_peak_bytes), jnum (x.octave_peak_bytes), ...
           jnum (x.input_bytes), jnum (x.output_bytes));
  if k < numel (results)
    fprintf (fid, ',\n');
  else
    fprintf (fid, '\n');
  end
end
fprintf (fid, '  ]\n}\n');
fclose (fid);
fprintf ('Results written to %s\n', out_file);
