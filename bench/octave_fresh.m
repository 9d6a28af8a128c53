% SPDX-License-Identifier: BSD-3-Clause

% Times the plug-ins the way users run them: each measurement is a fresh
% octave-cli process with the allocator's default settings, which builds the
% data, makes one warm-up call and then four calls in a loop whose result
% overwrites the last (out = f (...)), and reports the best of the four. Each
% implementation runs in several processes, the implementations alternating
% (A B C A B C ...), so that a change in the machine's load spreads over all.
%
% Shapes and implementations:
%   fold_links_full     octave_bench.m's data (2,000,000 links over
%                       N = 100,000, v = 6): native, MEX, vectorised Octave
%   tally_pairs_full/a  G = 2000, K = 12, n = 6, r = 4 } 20 records per entry,
%   tally_pairs_full/b  G = 200, K = 40, n = 20, r = 5 } one in ten a NaN
%                       record, F_switch = 1: native, MEX, vectorised Octave
%                       and the straight loops of the reference as a MEX file
%                       (bench/tally_pairs_loops.cpp)
%   align_series        octave_bench.m's data: native, MEX, vectorised Octave
%   align_series/wide   2 entries of 200,000 keys (output blocks of tens of
%                       MB): native, and native without huge pages
%   fold_links_masked,  octave_bench.m's data and tally_pairs_full/a's sizes:
%   tally_pairs_masked  native alone
% Every native function also runs on one thread (TABLEFOLD_THREADS=1), and
% the vectorised code uses its BLAS on every processor (no
% OPENBLAS_NUM_THREADS or OMP_NUM_THREADS in the environment).
%   fold_links_full with huge counts and no links,
%                       fold_links_full (zeros (2, 0), [2^31 - 1; 0]): native
%
% Each process also measures the warm-up call's memory as octave_bench.m
% does (peak resident size during the call less the size before it). The
% first process of the native function, of the MEX file and of the straight
% loops prints an MD5 digest of its result, after the timings: all must give
% the same bytes. Before the timings, one more process checks that the
% native function agrees with the vectorised code on every shape
% (octave_bench.m's comparison).
%
% Run with absolute paths (run() changes into this script's folder):
%   scripts/octave-cli-quiet --eval "run('$PWD/bench/octave_fresh.m')"
%
% Environment (folders default to those of <project>/build):
%   OCTAVE_BENCH_NATIVE     the native toolbox folder (build/octave)
%   OCTAVE_BENCH_MEX        the MEX toolbox folder (build/octave-mex)
%   OCTAVE_FRESH_LOOPS      the folder of tally_pairs_loops.mex (build/bench/octave-mex)
%   OCTAVE_BENCH_SCALE      factor on the data sizes (default 1; 0.1 for a smoke run)
%   OCTAVE_FRESH_PROCESSES  processes per shape and implementation (default 3)
%   OCTAVE_FRESH_OUT        results file (default <build>/bench-results/octave_fresh.json)
%   OCTAVE_FRESH_CHILD      set by the script itself for a measuring process,
%                           "<shape>:<implementation>", and for the comparison
%                           with the vectorised code, "check"
% The allocator's MALLOC_* settings and GLIBC_TUNABLES are removed from the
% environment of every measuring process. Needs Octave 7 or later (jsonencode).

1; % a script file, not a function file

here = fileparts (mfilename ('fullpath'));
% The jobs, the comparisons and the settings shared with octave_bench.m.
source (fullfile (here, 'bench_data.m'));

function impls = shape_impls (shape)
  % The implementations timed on SHAPE: 'native' runs on every processor
  % the process may use, 'native1' on one thread (TABLEFOLD_THREADS=1),
  % 'nohuge' without asking for huge pages (TABLEFOLD_HUGE_PAGES=0).
  switch shape
    case {'tally_pairs_full/a', 'tally_pairs_full/b'}
      impls = {'native', 'native1', 'mex', 'octave', 'loops'};
    case {'fold_links_masked', 'tally_pairs_masked'}
      impls = {'native', 'native1'};
    case 'align_series/wide'
      impls = {'native', 'nohuge'};
    case 'fold_links_full/huge'
      impls = {'native'};
    otherwise
      impls = {'native', 'native1', 'mex', 'octave'};
  end
end

function job = fresh_job (shape, scale)
  % The data and implementations of one shape; fold_links_full and
  % align_series are octave_bench.m's jobs, data included.
  switch shape
    case {'fold_links_full', 'fold_links_masked', 'align_series'}
      job = bench_job (shape, scale);
    case 'align_series/wide'
      job = align_job (2, max (100, round (200000 * scale)));
    case 'tally_pairs_masked'
      job = tally_job ('tally_pairs_masked', max (2, round (2000 * scale)), 20, 12, 6, 4);
    case 'tally_pairs_full/a'
      job = tally_job ('tally_pairs_full', max (2, round (2000 * scale)), 20, 12, 6, 4);
    case 'tally_pairs_full/b'
      job = tally_job ('tally_pairs_full', max (2, round (200 * scale)), 20, 40, 20, 5);
    case 'fold_links_full/huge'
      job.sizes = 'fold_links_full (zeros (2, 0), [2^31 - 1; 0]): no links, huge counts';
      job.data = {zeros(2, 0), [2^31 - 1; 0]};
      job.call = @(fn, d) fold_plugin (fn, d{:});
      job.octave = [];
      job.octave_code = '';
      job.exact = true;
      job.plugin = 'fold_links_full';
    otherwise
      error ('octave_fresh: no shape %s', shape);
  end
  job.name = shape;
end

function f = fresh_call (job, impl)
  % The call a measuring process times, as a function of nothing.
  if strcmp (impl, 'octave')
    f = @() job.octave (job.data);
  elseif strcmp (impl, 'loops')
    f = @() job.call (@tally_pairs_loops, job.data);
  else
    f = @() job.call (str2func (job.plugin), job.data);
  end
end

function d = result_digest (out)
  % MD5 of the sizes and bytes of every matrix of a result (a cell of
  % matrices or of cell lists of matrices), taken over pieces of about 4 MB
  % so that a result of gigabytes is never copied whole (pieces of that size
  % come back from the allocator without fresh pages). Every piece is a row,
  % as hash reads the first row of a character matrix alone.
  digests = {};
  for k = 1:numel (out)
    e = out{k};
    if iscell (e)
      sizes = [size(e), cellfun('size', e(:)', 1), cellfun('size', e(:)', 2)];
    else
      sizes = size (e);
      e = {e};
    end
    digests{end+1} = hash ('md5', typecast (double (sizes), 'char'));
    ends = cumsum (cellfun ('numel', e(:)));
    first = 1;
    while first <= numel (e)
      done = 0;
      if first > 1
        done = ends(first - 1);
      end
      last = max (first, find (ends - done <= 2^19, 1, 'last'));
      vals = cellfun (@(m) m(:)', e(first:last)', 'UniformOutput', false);
      digests{end+1} = hash ('md5', typecast ([vals{:}], 'char'));
      first = last + 1;
    end
  end
  d = hash ('md5', [digests{:}]);
end

function key = shape_key (shape)
  key = strrep (shape, '/', '_');
end

native_dir = env_dir ('OCTAVE_BENCH_NATIVE', fullfile (here, '..', 'build', 'octave'));
mex_dir = env_dir ('OCTAVE_BENCH_MEX', fullfile (here, '..', 'build', 'octave-mex'));
loops_dir = env_dir ('OCTAVE_FRESH_LOOPS', fullfile (here, '..', 'build', 'bench', 'octave-mex'));
scale = env_number ('OCTAVE_BENCH_SCALE', 1);
calls = 4;
shapes = {'fold_links_full', 'fold_links_masked', 'tally_pairs_full/a', 'tally_pairs_full/b', ...
          'tally_pairs_masked', 'align_series', 'align_series/wide', 'fold_links_full/huge'};

% ---------------------------------------------------------------- a measuring process

child = getenv ('OCTAVE_FRESH_CHILD');

if strcmp (child, 'check')
  addpath (native_dir);
  for s = 1:numel (shapes)
    job = fresh_job (shapes{s}, scale);
    if strcmp (job.plugin, 'tally_pairs_full')
      d = job.data;
      w = tally_work (d{1}, d{2}, d{3}, d{4}, d{6}, true);
      printf ('work %s %.0f %.0f %.0f\n', shape_key (job.name), w.chain, w.muls, w.adds);
    end
    if ~isempty (job.octave)
      [ok, how] = agree (job.call (str2func (job.plugin), job.data), job.octave (job.data), ...
                         job.exact);
      printf ('agree %s %d %s\n', shape_key (job.name), ok, how);
    end
    clear job;
  end
  exit (0);
elseif ~isempty (child)
  sep = find (child == ':', 1, 'last');
  job = fresh_job (child(1:sep-1), scale);
  impl = child(sep+1:end);
  switch impl
    case 'native', addpath (native_dir);
    case 'native1'
      addpath (native_dir);
      setenv ('TABLEFOLD_THREADS', '1');
    case 'nohuge'
      addpath (native_dir);
      setenv ('TABLEFOLD_HUGE_PAGES', '0');
    case 'mex', addpath (mex_dir);
    case 'loops', addpath (loops_dir);
  end
  f = fresh_call (job, impl);
  input_bytes = bytes_of (job.data);
  reset_peak ();
  before = status_kb ('VmRSS');
  t0 = tic;
  out = f ();
  first = toc (t0);
  peak = status_kb ('VmHWM');
  times = zeros (1, calls);
  for k = 1:calls
    t0 = tic;
    out = f ();
    times(k) = toc (t0);
  end
  digest = '-';
  if ~isempty (getenv ('OCTAVE_FRESH_DIGEST'))
    digest = result_digest (out);
  end
  printf ('fresh %.9g %.9g %.0f %.0f %.0f %s\n', min (times), first, (peak - before) * 1024, ...
          input_bytes, bytes_of (out), digest);
  printf ('sizes: %s\ncode: %s\n', job.sizes, job.octave_code);
  exit (0);
end

% ---------------------------------------------------------------- the run

processes = round (env_number ('OCTAVE_FRESH_PROCESSES', 3));
out_file = getenv ('OCTAVE_FRESH_OUT');
if isempty (out_file)
  out_file = fullfile (fileparts (native_dir), 'bench-results', 'octave_fresh.json');
end
octave_cli = fullfile (here, '..', 'scripts', 'octave-cli-quiet');
for v = {'MALLOC_ARENA_MAX', 'MALLOC_ARENA_TEST', 'MALLOC_CHECK_', 'MALLOC_MMAP_MAX_', ...
         'MALLOC_MMAP_THRESHOLD_', 'MALLOC_PERTURB_', 'MALLOC_TOP_PAD_', 'MALLOC_TRIM_THRESHOLD_', ...
         'GLIBC_TUNABLES', 'TABLEFOLD_THREADS', 'TABLEFOLD_HUGE_PAGES', 'TABLEFOLD_ISA', ...
         'OPENBLAS_NUM_THREADS', 'OMP_NUM_THREADS'}
  unsetenv (v{1});
end
% Agreement of the native functions with the vectorised code, in a process
% of its own (this one would keep the memory of the largest shape's data).
[status, text] = system (sprintf ('OCTAVE_FRESH_CHILD=check %s --eval "run(''%s'')"', octave_cli, ...
                                  fullfile (here, 'octave_fresh.m')));
if status ~= 0
  error ('octave_fresh: the comparison with the vectorised code failed:\n%s', text);
end
checks = struct ();
for line = regexp (text, 'agree (\S+) ([01]) ([^\n]*)', 'tokens')
  checks.(line{1}{1}) = struct ('agree', line{1}{2} == '1', 'check', line{1}{3});
end
% The operations that bound a tally (see tally_work).
work = struct ();
for line = regexp (text, 'work (\S+) (\S+) (\S+) (\S+)', 'tokens')
  work.(line{1}{1}) = struct ('chain', str2double (line{1}{2}), 'muls', str2double (line{1}{3}), ...
                              'adds', str2double (line{1}{4}));
end

fprintf ('Fresh processes: %d per shape and implementation, best of %d calls after a warm-up, scale %g\n', ...
         processes, calls, scale);
results = {};
failed = false;
for s = 1:numel (shapes)
  impls = shape_impls (shapes{s});
  res = struct ('name', shapes{s}, 'sizes', '', 'octave_code', '', 'agree', true, 'check', '');
  key = shape_key (shapes{s});
  if isfield (checks, key)
    res.agree = checks.(key).agree;
    res.check = checks.(key).check;
  elseif any (strcmp (impls, 'octave'))
    res.agree = false;
    res.check = 'no result from the comparison';
  end
  if isfield (work, key)
    res.work = work.(key);
  end
  m = struct ();
  for i = 1:numel (impls)
    m.(impls{i}) = struct ('best_s', [], 'first_s', [], 'peak_bytes', [], 'digests', {{}});
  end
  % The huge-count call must not take the machine's memory if it goes wrong.
  limit = '';
  if strcmp (shapes{s}, 'fold_links_full/huge')
    limit = 'ulimit -v 4194304; ';
  end
  for p = 1:processes
    for i = 1:numel (impls)
      % The first process of each compiled implementation digests its result.
      digest = '';
      if p == 1 && ~strcmp (impls{i}, 'octave')
        digest = 'OCTAVE_FRESH_DIGEST=1 ';
      end
      cmd = sprintf ('%s%sOCTAVE_FRESH_CHILD=''%s:%s'' %s --eval "run(''%s'')"', limit, digest, ...
                     shapes{s}, impls{i}, octave_cli, fullfile (here, 'octave_fresh.m'));
      [status, text] = system (cmd);
      tok = regexp (text, 'fresh (\S+) (\S+) (\S+) (\S+) (\S+) ([0-9a-f]+|-)', 'tokens', 'once');
      if status ~= 0 || isempty (tok)
        error ('octave_fresh: the process for %s (%s) failed:\n%s', shapes{s}, impls{i}, text);
      end
      x = m.(impls{i});
      x.best_s(end+1) = str2double (tok{1});
      x.first_s(end+1) = str2double (tok{2});
      x.peak_bytes(end+1) = str2double (tok{3});
      if ~strcmp (tok{6}, '-')
        x.digests{end+1} = tok{6};
      end
      res.input_bytes = str2double (tok{4});
      res.output_bytes = str2double (tok{5});
      res.sizes = regexp (text, 'sizes: ([^\n]*)', 'tokens', 'once'){1};
      res.octave_code = regexp (text, 'code: ([^\n]*)', 'tokens', 'once'){1};
      m.(impls{i}) = x;
      fprintf ('%-22s %-7s process %d: best %8.4f s, first call %8.4f s, peak rise %6.0f MB\n', ...
               shapes{s}, impls{i}, p, x.best_s(end), x.first_s(end), x.peak_bytes(end) / 1e6);
    end
  end
  % Bit for bit: the native function, the MEX file and the straight loops
  % give the same result (digested in the first process of each).
  reference = m.native.digests{1};
  res.identical = true;
  for i = 1:numel (impls)
    if ~strcmp (impls{i}, 'octave')
      res.identical = res.identical && all (strcmp (m.(impls{i}).digests, reference));
    end
  end
  if ~res.identical || ~res.agree
    failed = true;
    fprintf ('%-22s the results differ (identical %d, agree with the vectorised code %d)\n', ...
             shapes{s}, res.identical, res.agree);
  end
  res.impls = struct ();
  for i = 1:numel (impls)
    res.impls.(impls{i}) = rmfield (m.(impls{i}), 'digests');
    if ~strcmp (impls{i}, 'octave')
      res.impls.(impls{i}).identical = all (strcmp (m.(impls{i}).digests, reference));
    end
  end
  results{end+1} = res;
end

summary = struct ('tool', 'octave_fresh', 'octave_version', OCTAVE_VERSION, 'scale', scale, ...
                  'processes', processes, 'calls', calls, 'processors', nproc (), ...
                  'blas', strtrim (version ('-blas')));
summary.shapes = results;
write_json (out_file, summary);
fprintf ('Results written to %s\n', out_file);
if failed
  exit (1);
end
