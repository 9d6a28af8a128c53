% SPDX-License-Identifier: BSD-3-Clause

% How the cost of a call grows with its data: times each native Octave
% function of the toolbox over sizes spanning two to three orders of
% magnitude, with the vectorised Octave code of bench_data.m beside it, and
% draws one log-log picture per plug-in family. Beside each time it records
% what helps explain the curve: the minor page faults of the call (memory
% touched for the first time), the call's peak memory, the bytes of its
% inputs and outputs, the processor time it spent in the kernel, the fixed
% cost of a call with the least input, what a page fault and a random read
% cost on this machine, and the native times again in a process whose
% allocator keeps the memory it frees (so that a call reuses pages instead
% of touching new ones). Where a native line rises above the vectorised one,
% the picture says so, with both calls' page faults there and, where the
% native call with freed memory kept stays below, that first touch is why.
%
% Run with an absolute path (run() changes into this script's folder):
%   scripts/octave-cli-quiet --eval "run('$PWD/bench/octave_scaling.m')"
%
% Environment:
%   OCTAVE_SCALING_NATIVE  the native toolbox folder (default <project>/build/octave)
%   OCTAVE_SCALING_SCALE   factor on every size (default 1; 0.05 for a smoke run)
%   OCTAVE_SCALING_OUT     folder of the results, scaling_<family>.json,
%                          scaling_<family>_kept.json, scaling_machine.json
%                          (default <native folder>/../bench-results)
%   OCTAVE_SCALING_PLOTS   folder of the pictures, scaling_<family>.png
%                          (default <project>/docs)
%   OCTAVE_SCALING_FAMILY  set by the script for the process that times one
%                          family (align_series, fold_links or tally_pairs);
%   OCTAVE_SCALING_KEEP    with 1, native code alone, for the process whose
%                          allocator keeps freed memory.
%
% Processes: this one measures what a random read costs against the size
% of the array read (scaling_machine.json); then, for each family, one
% octave-cli with the allocator's default settings (native and vectorised
% code) and one that keeps freed memory (MALLOC_TRIM_THRESHOLD_,
% MALLOC_MMAP_THRESHOLD_; native code), after which this process draws the
% family's picture from both results.
%
% Timing: at each size, each implementation is called in a loop, as a user
% calls it: one warm-up call (which also gives the call's peak memory),
% then the best (tic/toc) of 3 calls, with the page faults and kernel time
% of that call.
% An implementation is skipped from the size on at which a call is
% predicted to take more than 20 s or the process more than 4 GB,
% extrapolating from the sizes before it (at scale 1 no size is).
%
% Sizes at scale 1:
%   align_series   entries and keys per key row grow together, from 100
%                  entries of 200 keys to 1,000 entries of 2,000 keys
%                  (entries x keys from 20,000 to 2,000,000); V = 20, E = 10
%   fold_links_*   20,000 to 2,000,000 links, N = links / 20 indices (20
%                  links per index on average at every size), v = 6
%   tally_pairs_*  G = 20 to 20,000 entries of 20 records, K = 12, n = 6,
%                  r = 4, one record in ten a NaN record; F_switch = 1

1; % a script file, not a function file

source (fullfile (fileparts (mfilename ('fullpath')), 'bench_data.m'));

function v = setting (name, default)
  v = getenv (name);
  if isempty (v)
    v = default;
  end
end

function b = data_bytes (x)
  % The data bytes of a matrix, or of a list of matrices and cell lists of
  % matrices (cellfun over the built-in size, fast on long lists).
  if ~iscell (x)
    b = 8 * numel (x);
    return;
  end
  b = 0;
  for k = 1:numel (x)
    if iscell (x{k})
      b += 8 * sum (cellfun ('prodofsize', x{k}));
    else
      b += 8 * numel (x{k});
    end
  end
end

% ---------------------------------------------------------------- the machine

function ft = first_touch ()
  % What touching fresh memory costs: 64 MiB of zeros, above the allocator's
  % mmap threshold, so every page is new to the process each time; the same
  % fill into the pages already there is the part that is not first touch.
  n = 2^23;
  ft.s_per_fault = inf;
  for k = 1:3
    r0 = getrusage ();
    tic;
    x = zeros (n, 1);
    t_new = toc;
    r1 = getrusage ();
    tic;
    x(:) = 1;
    t_old = toc;
    clear x;
    faults = r1.minflt - r0.minflt;
    ft.s_per_fault = min (ft.s_per_fault, (t_new - t_old) / max (faults, 1));
  end
  [status, text] = system ('getconf PAGESIZE');
  ft.page_bytes = 4096;
  if status == 0 && isfinite (str2double (text))
    ft.page_bytes = str2double (text);
  end
  ft.s_per_gib = ft.s_per_fault * 2^30 / ft.page_bytes;
end

function rr = random_reads ()
  % What a random 8-byte read costs against the size of the array it reads
  % from (Octave indexing with 65,536 random indices, best of 5 rounds of 8
  % reads each): flat while the array fits the caches, rising as it leaves
  % them. Arrays of 256 KiB to 512 MiB.
  m = 2^16;
  e = 15:26;
  rr.bytes = 8 * 2 .^ e;
  rr.ns_per_read = inf (size (e));
  for i = 1:numel (e)
    x = rand (2^e(i), 1);
    idx = randi (2^e(i), m, 1);
    y = x(idx);
    for r = 1:5
      tic;
      for k = 1:8
        y = x(idx);
      end
      rr.ns_per_read(i) = min (rr.ns_per_read(i), toc / (8 * m) * 1e9);
    end
  end
end

% ---------------------------------------------------------------- the families

function fam = family (name, scale)
  fam.name = name;
  switch name
    case 'align_series'
      f = sqrt ([1 2 5 10 20 50 100] * scale);
      fam.entries = max (1, round (100 * f));
      fam.keys = 2 * max (1, round (100 * f));
      fam.sizes = fam.entries .* fam.keys;
      fam.x_label = 'entries x keys per key row (both grow; V = 20, E = 10)';
      fam.variants = {'align_series'};
    case 'fold_links'
      fam.sizes = unique (max (2, round ([2e4 5e4 1e5 2e5 5e5 1e6 2e6] * scale)));
      fam.x_label = 'links per call (N = links / 20 indices, v = 6)';
      fam.variants = {'fold_links_full', 'fold_links_masked'};
    case 'tally_pairs'
      fam.sizes = unique (max (2, round ([20 50 100 200 500 1000 2000 5000 1e4 2e4] * scale)));
      fam.x_label = 'entries G of 20 records each (K = 12, n = 6, r = 4)';
      fam.variants = {'tally_pairs_full', 'tally_pairs_masked'};
    otherwise
      error ('octave_scaling: unknown family "%s" (align_series, fold_links or tally_pairs)', name);
  end
end

function job = make_job (variant, fam, k)
  % The data of size K (0: the least input) of one plug-in, from a fixed
  % seed (bench_data.m's jobs), and both implementations as functions
  % without arguments.
  switch fam.name
    case 'align_series'
      if k == 0
        entries = 1; keys = 2;
      else
        entries = fam.entries(k); keys = fam.keys(k);
      end
      base = align_job (entries, keys);
      job.detail = sprintf ('%d entries, %d keys', entries, keys);
      counted = base.data;
    case 'fold_links'
      nlinks = 1;
      if k > 0
        nlinks = fam.sizes(k);
      end
      N = max (1, round (nlinks / 20));
      base = fold_job (variant, nlinks, N);
      job.detail = sprintf ('%d links, N = %d', nlinks, N);
      counted = base.data;
    case 'tally_pairs'
      G = 2; per_entry = 1;
      if k > 0
        G = fam.sizes(k); per_entry = 20;
      end
      base = tally_job (variant, G, per_entry, 12, 6, 4);
      job.detail = sprintf ('G = %d', G);
      counted = [base.data(1:3), {base.F}];   % W, S, R and F
  end
  fn = str2func (variant);
  job.native = @() base.call (fn, base.data);
  job.octave = @() base.octave (base.data);
  job.input_bytes = data_bytes (counted);
end

% ---------------------------------------------------------------- timing

function [t, faults, sys] = timed_call (fn)
  % One call: its wall time, its minor page faults and the processor time
  % it spent in the kernel (page faults, memory handed back and forth).
  r0 = getrusage ();
  tic;
  out = fn ();
  t = toc;
  r1 = getrusage ();
  faults = r1.minflt - r0.minflt;
  sys = (r1.stime.sec - r0.stime.sec) + (r1.stime.usec - r0.stime.usec) * 1e-6;
end

function [peak, bytes] = warm_up (fn)
  % One call: the rise of the resident size to its peak, and the bytes of
  % the result.
  reset_peak ();
  before = status_kb ('VmRSS');
  out = fn ();
  peak = (status_kb ('VmHWM') - before) * 1024;
  bytes = data_bytes (out);
end

function [best, faults, sys] = best_of (fn, calls)
  % The best of CALLS calls, with its page faults and kernel time.
  best = inf;
  faults = NaN;
  sys = NaN;
  for c = 1:calls
    [t, f, k] = timed_call (fn);
    if t < best
      best = t;
      faults = f;
      sys = k;
    end
  end
end

function [why, limit] = too_big (line, k, sizes)
  % Whether size K of a line is predicted to exceed the limits, from its
  % last two measured sizes: time grows at least linearly (faster where the
  % last step grew faster), memory linearly.
  why = '';
  limit = false;
  done = find (isfinite (line.time_s(1:k-1)));
  if isempty (done)
    return;
  end
  j = done(end);
  ratio = sizes(k) / sizes(j);
  slope = 1;
  if numel (done) >= 2
    i = done(end-1);
    slope = max (1, log (line.time_s(j) / line.time_s(i)) / log (sizes(j) / sizes(i)));
  end
  if line.time_s(j) * ratio ^ slope > 20
    why = 'over 20 s per call';
  elseif (line.peak_bytes(j) + line.input_bytes(j)) * ratio > 4e9
    why = 'over 4 GB';
  end
  limit = ~isempty (why);
end

function file = results_file (out_dir, name, kept)
  file = fullfile (out_dir, sprintf ('scaling_%s%s.json', name, repmat ('_kept', 1, kept)));
end

% ---------------------------------------------------------------- the picture

function notes = crossing_notes (fam, lines)
  % Where a native line, below its vectorised twin at first, lies above it:
  % the sizes, both calls' page faults at the first and, where the native call
  % with freed memory kept stays below, the reason (report.py says the same
  % under the picture).
  notes = {};
  for k = find (strcmp ({lines.impl}, 'native'))
    N = lines(k);
    twin = @(impl) lines(strcmp ({lines.impl}, impl) & strcmp ({lines.variant}, N.variant));
    V = twin ('octave');
    K = twin ('native_kept');
    if isempty (V)
      continue;
    end
    both = find (isfinite (N.time_s) & isfinite (V.time_s));
    above = both(N.time_s(both) > V.time_s(both));
    if isempty (above) || N.time_s(both(1)) >= V.time_s(both(1))
      continue;
    end
    j = above(1);
    note = sprintf (['native %s slower than vectorised at size %s: at %.3g, %d page faults per ' ...
                     'call against %d'], N.variant, strjoin (arrayfun (@(s) sprintf ('%.3g', s), ...
                     fam.sizes(above), 'UniformOutput', false), ', '), fam.sizes(j), ...
                    N.faults(j), V.faults(j));
    if ~isempty (K) && isfinite (K.time_s(j)) && K.time_s(j) < V.time_s(j) && N.faults(j) > V.faults(j)
      note = sprintf (['%s.\nA loop that drops each result pays the first touch of fresh pages ' ...
                       'for the next output:\nwith freed memory kept the native call takes ' ...
                       '%.3g s, not %.3g s'], note, K.time_s(j), N.time_s(j));
    end
    notes{end+1} = note;
  end
end

function plot_family (fam, lines, file)
  % Headless: the gnuplot toolkit draws without a display (its notice that
  % it is no longer maintained concerns interactive windows).
  if any (strcmp (available_graphics_toolkits (), 'gnuplot'))
    warning ('off', 'Octave:gnuplot-graphics', 'local');
    graphics_toolkit ('gnuplot');
  end
  h = figure ('visible', 'off');
  set (h, 'paperunits', 'inches', 'paperposition', [0 0 9 6]);
  colours = struct ('native', [0 0.447 0.741], 'native_kept', [0.466 0.674 0.188], ...
                    'octave', [0.85 0.325 0.098]);
  names = struct ('native', 'native %s', 'native_kept', 'native %s, freed memory kept', ...
                  'octave', 'vectorised Octave, %s');
  handles = [];
  legends = {};
  for k = 1:numel (lines)
    L = lines(k);
    ok = isfinite (L.time_s);
    if ~any (ok)
      continue;
    end
    style = '-o';
    if any (strcmp (L.variant, {'fold_links_masked', 'tally_pairs_masked'}))
      style = '-.s';
    end
    colour = colours.(L.impl);
    label = sprintf (names.(L.impl), L.variant);
    if ~isempty (L.skipped_from)
      label = sprintf ('%s (not run from %d on: %s predicted)', label, L.skipped_from, ...
                       L.skipped_why);
    end
    % Thin lines and open markers for freed memory kept, which often runs on
    % top of the native line.
    width = 1.5;
    face = colour;
    if strcmp (L.impl, 'native_kept')
      width = 0.75;
      face = 'none';
    end
    handles(end+1) = loglog (fam.sizes(ok), L.time_s(ok), style, 'color', colour, ...
                             'linewidth', width, 'markerfacecolor', face, 'markersize', 5);
    hold on;
    legends{end+1} = label;
  end
  % Slope 1 through the smallest native point.
  ref = lines(find (strcmp ({lines.impl}, 'native'), 1));
  x = fam.sizes([1 end]);
  handles(end+1) = loglog (x, ref.time_s(1) * x / x(1), 'k--', 'linewidth', 1);
  legends{end+1} = 'slope 1 (cost proportional to size)';

  hold off;
  grid on;
  % Room above the lines for the legend.
  t = [lines.time_s];
  t = t(isfinite (t));
  lo = min (t) / 2;
  hi = max (t) * 30;
  axis ([x(1) / 1.3, x(2) * 1.3, lo, hi]);
  xlabel (fam.x_label, 'interpreter', 'none');
  ylabel ('time per call (s), best of 3', 'interpreter', 'none');
  title (sprintf ('%s: time per call against size (log-log)', fam.name), 'interpreter', 'none');
  legend (handles, legends, 'location', 'northwest', 'interpreter', 'none', 'fontsize', 9);
  notes = crossing_notes (fam, lines);
  % One text per line (the gnuplot toolkit draws no line breaks), in data
  % units on the log axes, from the bottom right corner up.
  parts = strsplit (strjoin (notes, "\n"), "\n");
  for i = 1:numel (parts) * ~isempty (notes)
    text (x(2), lo * 1.15 * 1.6 ^ (numel (parts) - i), parts{i}, 'horizontalalignment', ...
          'right', 'verticalalignment', 'bottom', 'fontsize', 8, 'interpreter', 'none');
  end
  print (h, '-dpng', '-r100', file);
  close (h);
end

% ---------------------------------------------------------------- main

here = fileparts (mfilename ('fullpath'));
native_dir = canonicalize_file_name (setting ('OCTAVE_SCALING_NATIVE', ...
                                              fullfile (here, '..', 'build', 'octave')));
if isempty (native_dir) || ~exist (fullfile (native_dir, 'align_series.oct'), 'file')
  error ('octave_scaling: no native toolbox folder (set OCTAVE_SCALING_NATIVE)');
end
scale = str2double (setting ('OCTAVE_SCALING_SCALE', '1'));
if ~isfinite (scale) || scale <= 0
  error ('octave_scaling: OCTAVE_SCALING_SCALE must be a positive number');
end
out_dir = setting ('OCTAVE_SCALING_OUT', fullfile (fileparts (native_dir), 'bench-results'));
plot_dir = setting ('OCTAVE_SCALING_PLOTS', fullfile (here, '..', 'docs'));
families = {'align_series', 'fold_links', 'tally_pairs'};
runs = 3;
% The allocator's settings of the runs that keep freed memory: never give
% the heap's top back to the system, and serve blocks up to 32 MiB (the
% most glibc allows) from the heap rather than from fresh mappings.
keep_env = 'MALLOC_TRIM_THRESHOLD_=68719476736 MALLOC_MMAP_THRESHOLD_=33554432';

name = getenv ('OCTAVE_SCALING_FAMILY');
if isempty (name)
  % First the caches as timing shows them. Then each family in processes
  % of its own, so that none inherits the heap another left behind: one
  % with the allocator's default settings (native and vectorised code), one
  % that keeps freed memory (native code); then the picture from both.
  machine.random_reads = random_reads ();
  write_json (fullfile (out_dir, 'scaling_machine.json'), machine);
  fprintf ('random reads: %s ns per read from 256 KiB to 512 MiB\n', ...
           sprintf ('%.1f ', machine.random_reads.ns_per_read));
  octave_cli = fullfile (here, '..', 'scripts', 'octave-cli-quiet');
  for f = 1:numel (families)
    for kept = [false true]
      env = sprintf (['OCTAVE_SCALING_FAMILY=%s OCTAVE_SCALING_KEEP=%d ' ...
                      'OCTAVE_SCALING_NATIVE=''%s'''], families{f}, kept, native_dir);
      if kept
        env = [env ' ' keep_env];
      end
      cmd = sprintf ('%s %s --eval "run(''%s'')"', env, octave_cli, ...
                     fullfile (here, 'octave_scaling.m'));
      if system (cmd, false) ~= 0
        error ('octave_scaling: the run of %s failed', families{f});
      end
    end
    res = jsondecode (fileread (results_file (out_dir, families{f}, false)));
    kept = jsondecode (fileread (results_file (out_dir, families{f}, true)));
    if ~exist (plot_dir, 'dir')
      mkdir (plot_dir);
    end
    picture = fullfile (plot_dir, sprintf ('scaling_%s.png', families{f}));
    plot_family (family (families{f}, scale), [res.lines(:); kept.lines(:)], picture);
    fprintf ('%s: picture in %s\n', families{f}, picture);
  end
  return;
end

keep = strcmp (getenv ('OCTAVE_SCALING_KEEP'), '1');
addpath (native_dir);
started = tic;
fam = family (name, scale);
ft = first_touch ();
fprintf (['%s%s: first touch %.2f s per GiB (%.2f us per page fault); best of %d calls, ' ...
          'scale %g\n'], name, repmat (' (freed memory kept)', 1, keep), ft.s_per_gib, ...
         ft.s_per_fault * 1e6, runs, scale);

% The lines: each variant's native function and, unless the allocator
% keeps freed memory, its vectorised code.
impls = {'native', 'octave'};
labels = impls;
if keep
  impls = {'native'};
  labels = {'native_kept'};
end
nsizes = numel (fam.sizes);
lines = struct ('variant', {}, 'impl', {}, 'time_s', {}, 'faults', {}, 'sys_s', {}, ...
                'peak_bytes', {}, ...
                'input_bytes', {}, 'output_bytes', {}, 'detail', {}, 'overhead_s', {}, ...
                'skipped_from', {}, 'skipped_why', {});
for v = 1:numel (fam.variants)
  for m = 1:numel (impls)
    lines(end+1) = struct ('variant', fam.variants{v}, 'impl', labels{m}, ...
                           'time_s', NaN (1, nsizes), 'faults', NaN (1, nsizes), ...
                           'sys_s', NaN (1, nsizes), ...
                           'peak_bytes', NaN (1, nsizes), 'input_bytes', NaN (1, nsizes), ...
                           'output_bytes', NaN (1, nsizes), 'detail', {cell(1, nsizes)}, ...
                           'overhead_s', NaN, 'skipped_from', [], 'skipped_why', '');
  end
end

for v = 1:numel (fam.variants)
  variant = fam.variants{v};
  % The fixed cost of a call: the least input, best of 20 calls.
  job = make_job (variant, fam, 0);
  for m = 1:numel (impls)
    fn = job.(impls{m});
    fn ();
    lines(numel (impls) * (v - 1) + m).overhead_s = best_of (fn, 20);
  end
  clear job fn;
  for k = 1:nsizes
    job = [];
    report = sprintf ('%-20s', variant);
    for m = 1:numel (impls)
      j = numel (impls) * (v - 1) + m;
      if isempty (lines(j).skipped_from)
        [why, limit] = too_big (lines(j), k, fam.sizes);
        if limit
          lines(j).skipped_from = fam.sizes(k);
          lines(j).skipped_why = why;
        end
      end
      if ~isempty (lines(j).skipped_from)
        continue;
      end
      if isempty (job)
        job = make_job (variant, fam, k);
        report = sprintf ('%s %-28s', report, job.detail);
      end
      % A loop of calls of one implementation, as a user makes them: a
      % warm-up call, then the best of RUNS.
      fn = job.(impls{m});
      [lines(j).peak_bytes(k), out_b] = warm_up (fn);
      [lines(j).time_s(k), lines(j).faults(k), lines(j).sys_s(k)] = best_of (fn, runs);
      lines(j).input_bytes(k) = job.input_bytes;
      lines(j).output_bytes(k) = out_b;
      lines(j).detail{k} = job.detail;
      report = sprintf ('%s  %s %10.6f s (%7d faults)', report, labels{m}, ...
                        lines(j).time_s(k), lines(j).faults(k));
      clear fn;
    end
    if ~isempty (job)
      fprintf ('%s\n', report);
    end
    clear job;
  end
end

result = struct ('family', name, 'x_label', fam.x_label, 'sizes', fam.sizes, 'scale', scale, ...
                 'runs', runs, 'octave_version', OCTAVE_VERSION, 'first_touch', ft, ...
                 'kept', keep, 'allocator', repmat (keep_env, 1, keep), ...
                 'picture', fullfile (plot_dir, sprintf ('scaling_%s.png', name)));
result.lines = lines;
file = results_file (out_dir, name, keep);
write_json (file, result);
fprintf ('%s: %.0f s; results in %s\n', name, toc (started), file);
