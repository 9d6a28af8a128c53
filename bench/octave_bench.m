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

% The jobs (data and vectorised Octave code), the comparisons and the
% settings, shared with the other benchmark scripts.
source (fullfile (fileparts (mfilename ('fullpath')), 'bench_data.m'));

% ---------------------------------------------------------------- main

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
  job = bench_job (parts{2}, scale);
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
  job = bench_job (plugins{k}, scale);
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

write_json (out_file, struct ('tool', 'octave_bench', 'octave_version', OCTAVE_VERSION, ...
                            'scale', scale, 'runs', runs, 'results', {results}));
fprintf ('Results written to %s\n', out_file);
