% SPDX-License-Identifier: BSD-3-Clause

% Every plug-in, called in one Octave process with invalid input of every
% kind, either raises an error with a message or returns; the process lives.

%!function args = with_arg(args, k, value)
%!  args{k} = value;
%!endfunction

%!function [n, problems] = try_calls (fn, arglists, nouts)
%!  % Calls fn with every argument list and every output count. A call may
%!  % raise an error, which must carry a message, or return.
%!  n = 0;
%!  problems = {};
%!  for a = 1:numel (arglists)
%!    for nout = nouts
%!      n++;
%!      out = cell(1, nout);
%!      try
%!        [out{1:nout}] = feval (fn, arglists{a}{:});
%!      catch err
%!        if (isempty (strtrim (err.message)))
%!          problems{end+1} = sprintf ('%s case %d: error without a message', fn, a);
%!        end
%!      end
%!    end
%!  end
%!endfunction

%!function lists = mutations (base, bad)
%!  % The base arguments with each position replaced by each bad value, and
%!  % the base arguments with one too few and one too many.
%!  lists = {base(1:end-1), [base, {1}], {}};
%!  for k = 1:numel (base)
%!    for b = 1:numel (bad)
%!      lists{end+1} = with_arg(base, k, bad{b});
%!    end
%!  end
%!endfunction

%!test
%! huge = 2^31;
%! handle = @sin;
%! bad = {'text', int8(5), true, single(2), 1i, sparse(1), struct('a', 1), handle, ...
%!        [], {}, {[]}, {'x'}, {int8(1)}, cell(3, 1), {1i}, NaN, Inf, -Inf, -1, 0, 0.5, ...
%!        1e300, huge, zeros(0, 3), zeros(3, 0), zeros(2, 2, 2), {zeros(2, 2, 2)}, ...
%!        {NaN; Inf}, {[1 2; 3 4]}, {[1 2; 3 4], [5; 6]}, [NaN Inf; -Inf NaN], ...
%!        zeros(1, 2, 0), zeros(2, 2, 0), {zeros(2, 2, 0)}, cell(1, 2, 0)};
%! cases = 0;
%! problems = {};
%!
%! % align_series: four cell lists
%! base = {{[1 2; 10 20]}, {[1 2; 10 20]}, {[1 2; 3 4]}, {[2; 5]}};
%! lists = mutations (base, bad);
%! lists{end+1} = {{[1; 2]}, {}, {[1; 2]; [3; 4]}, {[1; 2]}};           % lists too short
%! lists{end+1} = {{zeros(0, 2)}, {}, {[1]}, {[1]}};                     % no key row
%! lists{end+1} = {{}, {}, {[1; 2]; [1; 2; 3]}, {[1; 2]; [1; 2]}};       % rows differ
%! lists{end+1} = {{}, {}, {[1]}, {zeros(0, huge)}};                     % beyond 32 bits
%! lists{end+1} = {{}, {}, cell(huge, 0), {[1]}};
%! [n, p] = try_calls ('align_series', lists, 0:5);
%! cases += n; problems = [problems, p];
%!
%! % fold_links_*: a link matrix and a 2-row count matrix
%! for fn = {'fold_links_masked', 'fold_links_full'}
%!   links = [1 2 2; 2 1 3; 0.5 0.25 1];
%!   counts = [1 1 1; 1 2 0];
%!   base = {links, counts};
%!   lists = mutations (base, bad);
%!   for e = [0, -1, 4, NaN, Inf, -Inf, huge, 1e300, 2.9e9]
%!     l1 = links; l1(1, 1) = e;
%!     lists{end+1} = {l1, counts};                                        % bad first end
%!     l2 = links; l2(2, 2) = e;
%!     lists{end+1} = {l2, counts};                                        % bad second end
%!     c2 = counts; c2(1, 2) = e;
%!     lists{end+1} = {links, c2};                                         % bad count
%!   end
%!   lists{end+1} = {links, [counts; 0 0 0]};                               % 3-row counts
%!   lists{end+1} = {links, counts(1, :)};                                  % 1-row counts
%!   lists{end+1} = {links, [0 0 0; 0 0 0]};                                % counts too small
%!   lists{end+1} = {links(1, :), counts};                                  % rows missing
%!   lists{end+1} = {links(1:2, :), counts};
%!   lists{end+1} = {[1; 1; NaN], [1; 1]};                                  % skipped link counted
%!   lists{end+1} = {zeros(3, 0), zeros(2, 0)};
%!   lists{end+1} = {zeros(0, huge), [1; 1]};
%!   [n, p] = try_calls (fn{1}, lists, 0:3);
%!   cases += n; problems = [problems, p];
%! end
%!
%! % tally_pairs_*: W, the record list, R, r (F, F_switch)
%! W = [2 3; 1 1];
%! recs = {[2; 5; 7], [1; NaN; 0]};
%! R = [1 0; 2 1];
%! F = [5 7; 6 8];
%! for fn = {'tally_pairs_full', 'tally_pairs_masked'}
%!   if (strcmp (fn{1}, 'tally_pairs_full'))
%!     base = {W, recs, R, 2, F, 1};
%!   else
%!     base = {W, recs, R, 2};
%!   end
%!   lists = mutations (base, bad);
%!   for d = [0, -1, 3, NaN, Inf, huge, 1e300]
%!     lists{end+1} = with_arg(base, 2, {[d; 5; 7], [1; NaN; 0]});          % bad partner
%!     lists{end+1} = with_arg(base, 2, {[2; 5; 7], [d; NaN; 0]});
%!   end
%!   lists{end+1} = with_arg(base, 2, {[2; 5; 7]});                          % list too short
%!   lists{end+1} = with_arg(base, 2, {[2; 5; 7], [1; 2]});                  % rows differ
%!   lists{end+1} = with_arg(base, 2, {[2], [1]});                           % n < 2
%!   lists{end+1} = with_arg(base, 3, [1]);                                  % R too small
%!   lists{end+1} = with_arg(base, 3, [3 3; 3 3]);                           % classes above r
%!   lists{end+1} = with_arg(base, 4, huge);
%!   lists{end+1} = with_arg(base, 1, zeros(huge, 0));
%!   if (strcmp (fn{1}, 'tally_pairs_full'))
%!     lists{end+1} = with_arg(base, 5, [5 7]);                              % F too small
%!     lists{end+1} = with_arg(base, 6, 'x');
%!   end
%!   [n, p] = try_calls (fn{1}, lists, 0:2);
%!   cases += n; problems = [problems, p];
%! end
%!
%! printf ('%d invalid-input calls made; the process is alive\n', cases);
%! assert (problems, {});
%! assert (cases > 1000);
