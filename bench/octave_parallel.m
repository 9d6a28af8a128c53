% SPDX-License-Identifier: BSD-3-Clause

% When parallel calls pay: the same list of calls of a native function
% through cellfun in this process and through parcellfun of the parallel
% package with two worker processes, on two shapes:
%   fold_links_full   8 calls of 400,000 links over N = 20,000, v = 6: a
%                     short call with large inputs and outputs (two lists
%                     of 20,000 cells) that parcellfun ships to a worker and
%                     back;
%   tally_pairs_full  8 calls of G = 400 entries of 20 records, K = 96,
%                     n = 6, r = 4: a long call on small inputs with an
%                     n x r result.
% The workers get an anonymous function that calls the toolbox function by
% name (a handle to the compiled function itself crashes Octave at exit).
% Each way runs RUNS times, the best counts; the results of both ways must
% be equal.
%
% Run with an absolute path (run() changes into this script's folder):
%   scripts/octave-cli-quiet --eval "run('$PWD/bench/octave_parallel.m')"
%
% Environment:
%   OCTAVE_BENCH_NATIVE   the native toolbox folder (default <project>/build/octave)
%   OCTAVE_BENCH_SCALE    factor on the data sizes (default 1; 0.1 for a smoke run)
%   OCTAVE_PARALLEL_RUNS  runs of each way, the best counts (default 2)
%   OCTAVE_PARALLEL_OUT   results file (default <build>/bench-results/parallel.json)

1; % a script file, not a function file

here = fileparts (mfilename ('fullpath'));
source (fullfile (here, 'bench_data.m'));

native_dir = env_dir ('OCTAVE_BENCH_NATIVE', fullfile (here, '..', 'build', 'octave'));
scale = env_number ('OCTAVE_BENCH_SCALE', 1);
runs = round (env_number ('OCTAVE_PARALLEL_RUNS', 2));
out_file = getenv ('OCTAVE_PARALLEL_OUT');
if isempty (out_file)
  out_file = fullfile (fileparts (native_dir), 'bench-results', 'parallel.json');
end
addpath (native_dir);
pkg load parallel
workers = 2;
calls = 8;

jobs = {fold_job('fold_links_full', max (10, round (4e5 * scale)), max (1, round (2e4 * scale))), ...
        tally_job('tally_pairs_full', max (2, round (400 * scale)), 20, 96, 6, 4)};
fns = {@(l, c) fold_links_full (l, c), ...
       @(W, S, R, r, F, s) tally_pairs_full (W, S, R, r, F, s)};
nout = [2 1];
results = {};
for j = 1:numel (jobs)
  job = jobs{j};
  % Every argument as a list of CALLS entries, as cellfun takes them.
  args = cellfun (@(x) repmat ({x}, calls, 1), job.data, 'UniformOutput', false);
  best = inf (1, 2);
  outs = cell (2, nout(j));
  for r = 1:runs
    tic;
    [outs{1, :}] = cellfun (fns{j}, args{:}, 'UniformOutput', false);
    best(1) = min (best(1), toc);
    tic;
    [outs{2, :}] = parcellfun (workers, fns{j}, args{:}, 'UniformOutput', false, ...
                               'VerboseLevel', 0);
    best(2) = min (best(2), toc);
  end
  res = struct ('name', job.name, 'sizes', job.sizes, 'calls', calls, 'workers', workers, ...
                'cellfun_s', best(1), 'parcellfun_s', best(2), ...
                'input_bytes', calls * bytes_of (job.data), ...
                'output_bytes', bytes_of (outs(1, :)), 'equal', isequal (outs(1, :), outs(2, :)));
  results{end+1} = res;
  fprintf ('%-18s %d calls: cellfun %8.3f s, parcellfun (%d, ...) %8.3f s, equal %d\n', ...
           job.name, calls, best(1), workers, best(2), res.equal);
  clear outs args job;
end
write_json (out_file, struct ('tool', 'octave_parallel', 'octave_version', OCTAVE_VERSION, ...
                              'parallel_version', pkg ('describe', 'parallel'){1}.version, ...
                              'scale', scale, 'runs', runs, 'shapes', {results}));
fprintf ('Results written to %s\n', out_file);
if ~all (cellfun (@(r) r.equal, results))
  exit (1);
end
