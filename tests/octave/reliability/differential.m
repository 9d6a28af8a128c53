% SPDX-License-Identifier: BSD-3-Clause

function ok = differential (seed, calls, folder_a, folder_b)
% DIFFERENTIAL  Calls every plug-in of two toolbox folders on the same
% inputs and requires the same outcome from both.
%
%   ok = differential (SEED, CALLS, FOLDER_A, FOLDER_B) draws CALLS argument
%   lists (plugin_case, seeded with SEED; the plug-ins take turns), valid
%   and invalid, calls the plug-in of FOLDER_A and then the one of FOLDER_B
%   on each, and compares: both must return outputs of the same class and
%   size, bit for bit (NaN payloads and signed zeros included), or both must
%   fail with the same error identifier and message. No call may change its
%   inputs. Prints every mismatch with a way to reproduce it, then a
%   summary and a markdown line for the reliability report.
%
% The calls go in batches: the whole batch runs against FOLDER_A, the path
% is switched to FOLDER_B (use_toolbox), the batch runs again and the path
% is switched back, so one process serves both builds. The batches take the
% pair tallies' code paths in turn (TABLEFOLD_ISA: generic, avx2, avx512),
% FOLDER_A on one and FOLDER_B on the next, so every path is compared with
% another; a path the processor lacks runs as the widest it has. They take
% 1, 2, 3 and 7 threads in turn in the same way (TABLEFOLD_THREADS, with
% TABLEFOLD_THREAD_WORK at 0 so that calls of any size use them).
  names = plugin_names ();
  rand ('state', seed);
  randn ('state', seed);
  batch = 500;
  paths = {'generic', 'avx2', 'avx512'};
  counts = [1 2 3 7];
  saved = {'TABLEFOLD_ISA', 'TABLEFOLD_THREADS', 'TABLEFOLD_THREAD_WORK'};
  saved(2, :) = cellfun (@getenv, saved, 'UniformOutput', false);
  restore = onCleanup (@() cellfun (@setenv, saved(1, :), saved(2, :)));
  setenv ('TABLEFOLD_THREAD_WORK', '0');
  done = 0;
  returned = 0;
  mismatches = 0;
  shown = 0;
  failed = struct ('name', {}, 'args', {}, 'nout', {});
  elapsed = 0;
  while (done < calls)
    nb = min (batch, calls - done);
    cases = cell (nb, 1);
    for i = 1:nb
      name = names{mod (done + i - 1, numel (names)) + 1};
      [args, nout, kind] = plugin_case (name);
      cases{i} = struct ('name', name, 'args', {args}, 'nout', nout, 'kind', kind, ...
                         'before', value_bits (args));
    end
    t = tic ();
    turn = done / batch;
    use_toolbox (folder_a, names);
    setenv ('TABLEFOLD_ISA', paths{mod (turn, 3) + 1});
    setenv ('TABLEFOLD_THREADS', num2str (counts(mod (turn, 4) + 1)));
    ra = run_batch (cases);
    use_toolbox (folder_b, names);
    setenv ('TABLEFOLD_ISA', paths{mod (turn + 1, 3) + 1});
    setenv ('TABLEFOLD_THREADS', num2str (counts(mod (turn + 1, 4) + 1)));
    rb = run_batch (cases);
    elapsed += toc (t);
    for i = 1:nb
      c = cases{i};
      problem = compare (ra{i}, rb{i});
      if (isempty (problem) && ! same_bits (value_bits (c.args), c.before))
        problem = 'a call changed its inputs';
      end
      returned += ra{i}.ok;
      if (! isempty (problem))
        mismatches++;
        if (shown < 10)
          shown++;
          report (c, done + i, seed, problem, ra{i}, rb{i}, ...
                  sprintf ('%s, TABLEFOLD_THREADS=%d', paths{mod (turn, 3) + 1}, counts(mod (turn, 4) + 1)), ...
                  sprintf ('%s, TABLEFOLD_THREADS=%d', paths{mod (turn + 1, 3) + 1}, counts(mod (turn + 1, 4) + 1)));
          failed(shown) = struct ('name', c.name, 'args', {c.args}, 'nout', c.nout);
        end
      end
    end
    done += nb;
  end
  rate = 2 * calls / max (elapsed, eps);
  printf ('differential: %d executions (seed %d; each a call of both builds), %d returned, %d raised errors, %d mismatches; %.0f plug-in calls/s\n', ...
          calls, seed, returned, calls - returned, mismatches, rate);
  printf ('| %s | differential | %d calls on each build (seed %d): %d returned, %d errors, %d mismatches | %s vs %s |\n', ...
          datestr (now (), 'yyyy-mm-dd'), calls, seed, returned, calls - returned, mismatches, ...
          folder_label (folder_a), folder_label (folder_b));
  if (shown > 0)
    file = fullfile (tempdir (), sprintf ('differential-seed%d.mat', seed));
    save ('-binary', file, 'failed');
    printf ('the mismatching calls are saved in %s (variable failed: name, args, nout)\n', file);
  end
  ok = mismatches == 0 && calls > 0;
end

function r = run_batch (cases)
  r = cell (numel (cases), 1);
  for i = 1:numel (cases)
    r{i} = call_plugin (cases{i}.name, cases{i}.args, cases{i}.nout);
  end
end

% The difference between two outcomes in words, or '' when they are the same.
function problem = compare (a, b)
  problem = '';
  if (a.ok != b.ok)
    problem = 'one build returned, the other raised an error';
  elseif (! a.ok)
    if (! strcmp (a.id, b.id))
      problem = 'error identifiers differ';
    elseif (! strcmp (a.msg, b.msg))
      problem = 'error messages differ';
    end
  elseif (numel (a.outs) != numel (b.outs))
    problem = 'numbers of outputs differ';
  else
    for k = 1:numel (a.outs)
      if (! same_bits (a.outs{k}, b.outs{k}))
        problem = sprintf ('output %d differs (class, size or bits)', k);
        return;
      end
    end
  end
end

function report (c, number, seed, problem, a, b, path_a, path_b)
  printf ('MISMATCH in call %d (seed %d), %s with %d inputs and %d outputs (case kind %d): %s\n', ...
          number, seed, c.name, numel (c.args), c.nout, c.kind, problem);
  printf ('  build A (TABLEFOLD_ISA=%s): %s\n  build B (TABLEFOLD_ISA=%s): %s\n', ...
          path_a, outcome (a), path_b, outcome (b));
  printf ('  inputs:\n');
  s = disp (c.args);
  if (numel (s) > 2000)
    s = [s(1:2000) '...'];
  end
  printf ('%s\n', s);
end

function s = outcome (r)
  if (r.ok)
    s = sprintf ('returned %d outputs', numel (r.outs));
    for k = 1:numel (r.outs)
      s = [s, sprintf(', %s %s', class (r.outs{k}), mat2str (size (r.outs{k})))];
    end
  else
    s = sprintf ('error [%s] "%s"', r.id, strrep (r.msg, "\n", '\n'));
  end
end
