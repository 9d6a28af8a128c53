% SPDX-License-Identifier: BSD-3-Clause

function ok = soak (folder, calls, seed)
% SOAK  Calls every plug-in of toolbox FOLDER CALLS times in this one
% process and watches for leaks and drift.
%
%   ok = soak (FOLDER, CALLS, SEED) draws a pool of argument lists for each
%   plug-in (plugin_case, seeded with SEED): valid input of varied shapes
%   and input of every rejected kind. The first call on each list gives its
%   reference outcome; then the plug-ins take turns, cycling through their
%   pools, until each has been called CALLS times. Every outcome must equal
%   its reference bit for bit (outputs: class, size, every bit; errors:
%   identifier and message). The resident memory (VmRSS) is read after a
%   warm-up pass and at the end; it may grow by 2 MiB at most. Prints the
%   calls per second and the growth, and a markdown line for the
%   reliability report.
  names = plugin_names ();
  use_toolbox (folder, names);
  rand ('state', seed);
  randn ('state', seed);
  valid_per_pool = 40;
  faulty_per_kind = 8;
  np = numel (names);
  pools = cell (np, 1);
  refs = cell (np, 1);
  for p = 1:np
    cases = {};
    % the plug-in's own checks have the most ways to fail: three times
    % as many lists of that kind
    kinds = [zeros(1, valid_per_pool), kron(1:6, ones (1, faulty_per_kind)), ...
             5 * ones(1, 2 * faulty_per_kind)];
    for kind = kinds
      [args, nout] = plugin_case (names{p}, kind);
      cases{end+1} = struct ('args', {args}, 'nout', nout);
    end
    pools{p} = cases;
    refs{p} = cellfun (@(c) call_plugin (names{p}, c.args, c.nout), cases, 'UniformOutput', false);
    failed = refs{p}(cellfun (@(r) ! r.ok, refs{p}));
    messages = unique (cellfun (@(r) r.msg, failed, 'UniformOutput', false));
    printf ('soak: %s: %d argument lists, %d of them rejected, with %d different messages\n', ...
            names{p}, numel (cases), numel (failed), numel (messages));
  end

  % Warm-up: two passes over every pool, so that everything Octave loads
  % and caches on first use is in place before memory is measured.
  for pass = 1:2
    for p = 1:np
      for i = 1:numel (pools{p})
        call_plugin (names{p}, pools{p}{i}.args, pools{p}{i}.nout);
      end
    end
  end
  rss0 = rss_kib ();

  drift = 0;
  shown = 0;
  errors = 0;
  in_calls = 0;
  t = tic ();
  for k = 1:calls
    for p = 1:np
      i = mod (k - 1, numel (pools{p})) + 1;
      c = pools{p}{i};
      t1 = tic ();
      r = call_plugin (names{p}, c.args, c.nout);
      in_calls += toc (t1);
      errors += ! r.ok;
      if (! same_outcome (r, refs{p}{i}))
        drift++;
        if (shown < 10)
          shown++;
          printf ('DRIFT: call %d of %s (argument list %d) differs from the first call on the same input\n', ...
                  k, names{p}, i);
        end
      end
    end
  end
  elapsed = toc (t);
  rss1 = rss_kib ();
  total = calls * np;
  growth = (rss1 - rss0) / 1024;
  printf ('soak: %d calls (%d per plug-in, %d rejected) in %.1f s: %.0f calls/s with checking, %.0f calls/s in the plug-ins\n', ...
          total, calls, errors, elapsed, total / elapsed, total / in_calls);
  printf ('soak: VmRSS %.1f MiB after warm-up, %.1f MiB at the end: growth %.2f MiB (limit 2 MiB); %d results differed from the first call\n', ...
          rss0 / 1024, rss1 / 1024, growth, drift);
  printf ('| %s | soak | %d calls (%d per plug-in, %d rejected), %.0f calls/s, VmRSS growth %.2f MiB, %d drifted | %s |\n', ...
          datestr (now (), 'yyyy-mm-dd'), total, calls, errors, total / in_calls, growth, drift, folder_label (folder));
  ok = drift == 0 && growth <= 2 && calls > 0;
end

% Both calls returned the same outputs bit for bit, or both failed with the
% same identifier and message.
function s = same_outcome (r, ref)
  if (r.ok)
    s = ref.ok && same_bits (r.outs, ref.outs);
  else
    s = ! ref.ok && strcmp (r.id, ref.id) && strcmp (r.msg, ref.msg);
  end
end

function kib = rss_kib ()
  s = fileread ('/proc/self/status');
  kib = str2double (regexp (s, 'VmRSS:\s*(\d+)', 'tokens', 'once'){1});
end
