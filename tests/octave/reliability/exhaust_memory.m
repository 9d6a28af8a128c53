% SPDX-License-Identifier: BSD-3-Clause

function ok = exhaust_memory (folder, passes)
% EXHAUST_MEMORY  Asks every plug-in of toolbox FOLDER for outputs or
% scratch that cannot fit in memory; run it under a virtual memory limit
% (see out_of_memory, which sets one). Each such call must end with an
% error, not take the process down, and the session must then answer a
% small call (small_case) with the same result, bit for bit, as before.
% Link folding with huge counts and few links needs count-sized scratch in
% the MEX files only: there those calls must fail, in the native functions
% return.
% The whole set of calls runs PASSES times (default 3, at least 2): the
% resident memory (VmRSS) after the last pass may exceed that after the
% first by 2 MiB at most, so nothing of a failed call stays behind. Prints the error message of
% every case and a markdown line for the reliability report.
  if (nargin < 2)
    passes = 3;
  end
  names = plugin_names ();
  use_toolbox (folder, names);
  mex_build = isfile (fullfile (folder, [names{1} '.mex']));
  ok = true;
  cases = 0;
  passes = max (2, passes);
  for pass = 1:passes
    for p = 1:numel (names)
      small = small_case (names{p});
      ref = call_plugin (names{p}, small.args, small.nout);
      if (! ref.ok)
        printf ('FAIL: %s: the small call fails: %s\n', names{p}, ref.msg);
        ok = false;
      end
      huge = too_big (names{p}, mex_build);
      for k = 1:numel (huge)
        r = call_plugin (names{p}, huge{k}.args, huge{k}.nout);
        next = call_plugin (names{p}, small.args, small.nout);
        good = r.ok != huge{k}.fails && next.ok && same_bits (next.outs, ref.outs);
        if (pass == 1 || ! good)
          printf ('%s: %s: %s\n', names{p}, huge{k}.what, ...
                  ifelse_text (r.ok, 'RETURNED', sprintf ('error [%s] "%s"', r.id, r.msg)));
        end
        if (! good)
          printf ('FAIL: %s: %s: the call must %s and the next call must give its usual result\n', ...
                  names{p}, huge{k}.what, ifelse_text (huge{k}.fails, 'fail', 'return'));
          ok = false;
        end
        cases += pass == 1;
      end
    end
    if (pass == 1)
      rss0 = rss_kib ();
    end
  end
  growth = (rss_kib () - rss0) / 1024;
  printf ('exhaust_memory: %d cases, each run %d times; VmRSS growth from pass 1 to pass %d: %.2f MiB (limit 2 MiB)\n', ...
          cases, passes, passes, growth);
  if (growth > 2)
    ok = false;
  end
  printf ('| %s | out of memory | %d cases x %d under a virtual memory limit: %s; VmRSS growth %.2f MiB | %s |\n', ...
          datestr (now (), 'yyyy-mm-dd'), cases, passes, ifelse_text (ok, 'every call ended as it must, next calls right', 'FAILED'), ...
          growth, folder_label (folder));
end

function s = ifelse_text (c, a, b)
  if (c)
    s = a;
  else
    s = b;
  end
end

function kib = rss_kib ()
  kib = str2double (regexp (fileread ('/proc/self/status'), 'VmRSS:\s*(\d+)', 'tokens', 'once'){1});
end

% Valid calls (the plug-ins' own checks pass them) whose outputs or scratch
% need gigabytes: one allocation far too large, and many that fill the
% memory one after the other before one fails. `fails` says whether the
% call must fail in this build.
function c = too_big (name, mex_build)
  c = {};
  switch (name)
    case 'align_series'
      % V + 1 rows come from input 1's first entry, which needs no data
      % without columns; 3 merged keys
      c{end+1} = mk ('outputs of 5e8 x 3 (12 GB each)', ...
                     {{zeros(5e8, 0)}, {zeros(5e8, 0)}, {[1 2; 3 4]}, {[3; 5]}}, 4);
      c{end+1} = mk ('outputs of 1e7 x 3 (240 MB each), several entries', ...
                     {repmat({zeros(1e7, 0)}, 3, 1), repmat({zeros(1e7, 0)}, 3, 1), ...
                      repmat({[1 2; 3 4]}, 3, 1), repmat({[3; 5]}, 3, 1)}, 4);
    case {'fold_links_masked', 'fold_links_full'}
      v = 2 + strcmp (name, 'fold_links_masked');
      c{end+1} = mk ('a bucket of 1e9 columns (8 GB and more)', {ones(v, 1), [1e9; 1]}, 2, ...
                     mex_build);
      c{end+1} = mk (sprintf ('ten buckets of %d x 2e7 (%d MB each)', v, v * 160), ...
                     {ones(v + 1, 1), [1, 2e7 * ones(1, 9); 1, 2e7 * ones(1, 9)]}, 2, mex_build);
      % two links of 2e7 rows (320 MB), each folded into both outputs
      links = ones (2e7, 2);
      links(1:2, 2) = 2;
      c{end+1} = mk ('four output entries of 2e7 rows (160 MB each)', {links, ones(2, 2)}, 2);
    case {'tally_pairs_full', 'tally_pairs_masked'}
      args = {[2 3], {[2; 5; 7], [1; NaN; 0]}, 1, 7e8};
      if (strcmp (name, 'tally_pairs_full'))
        args = [args, {[5 7; 6 8], 1}];
      end
      c{end+1} = mk ('a tally of 7e8 columns (11 GB and more)', args, 1);
      args{4} = 1e8;
      c{end+1} = mk ('a tally of 1e8 columns (1.6 GB and more)', args, 1);
    otherwise
      error ('exhaust_memory: no case for plug-in %s', name);
  end
end

function c = mk (what, args, nout, fails)
  if (nargin < 4)
    fails = true;
  end
  c = struct ('what', what, 'args', {args}, 'nout', nout, 'fails', fails);
end
