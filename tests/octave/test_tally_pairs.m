% SPDX-License-Identifier: BSD-3-Clause

% tally_pairs_full and tally_pairs_masked through GNU Octave's own
% host, in either build (the native functions or the MEX files;
% tests/octave/run_octave_test names the folder).

%!shared W, S, F
%! W = [2 3];
%! S = {[2; 5; 7], [1; NaN; 0]};
%! F = [5 7; 6 8];

%!test
%! % the worked example, both variants and every kind of F_switch
%! assert (tally_pairs_full (W, S, 1, 1, F, 1), [30; 42; -240]);
%! assert (tally_pairs_full (W, S, 1, 1, F, 0), [30; 42; -6]);
%! assert (tally_pairs_full (W, S, 1, 1, F, -0), [30; 42; -6]);
%! assert (tally_pairs_full (W, S, 1, 1, F, NaN), [30; 42; -240]);
%! assert (tally_pairs_full (W, S, 1, 1, F, true), [30; 42; -240]);
%! assert (tally_pairs_masked (W, S, 1, 1), [30; 42]);
%! % a row of tables is a list too; inputs stay as they were
%! assert (tally_pairs_masked (W, S', 1, 1), [30; 42]);
%! assert (S{2}, [1; NaN; 0]);

%!test
%! % class numbers: fractions, r = 2.9 counts as 2, zero/negative/NaN never contribute
%! Wk = [2; 3];                             % pair products 4, 6, 6, 9
%! assert (tally_pairs_masked (Wk, {[1; 1]}, [0.5 2; 1.7 0], 2.9), [10 6]);
%! assert (tally_pairs_masked (Wk, {[1; 1]}, [0 NaN; -1 -0], 0), zeros (1, 0));
%! assert (tally_pairs_full (Wk, {[1; 1]}, [1 0; 0 2], 5, [1; 1], 0), [4 9 0 0 0; 0 0 0 0 0]);

%!test
%! % G = 0, K = 0, n = 2, records naming their own entry, entries without columns
%! assert (tally_pairs_full (zeros (2, 0), {zeros(4, 0)}, 5 * ones (2), 1, [], 1), zeros (4, 1));
%! assert (tally_pairs_masked (zeros (2, 0), {zeros(4, 0)}, 5 * ones (2), 1), zeros (3, 1));
%! assert (tally_pairs_full (zeros (0, 2), {[1 2; NaN 3], [2; 4]}, [], 1, ones (2), 1), [0; 0]);
%! assert (tally_pairs_full (W, {[2 2; 5 NaN], [1; 7]}, 1, 1, F, 1), [72; -252]);
%! assert (tally_pairs_masked (W, {[2 2; 5 NaN], [1; 7]}, 1, 1), 72);
%! assert (tally_pairs_masked (W, {[1; 1; 2], [2; 10; 20]}, 1, 1), [94; 188]);
%! assert (tally_pairs_full (W, {[2; 5; 7], []}, 1, 1, F, 1), [30; 42; 0]);
%! % an entry without columns may have further dimensions: it is never read
%! assert (tally_pairs_full (W, {[2; 5; 7], zeros(3, 0, 2)}, 1, 1, F, 1), [30; 42; 0]);

%!test
%! % r and F_switch may be of any real numeric or logical class, and a
%! % 1 x 1 sparse value is read as its value
%! assert (tally_pairs_full (W, S, 1, int32 (1), F, false), [30; 42; -6]);
%! assert (tally_pairs_full (W, S, 1, true, F, uint8 (2)), [30; 42; -240]);
%! assert (tally_pairs_masked (W, S, 1, single (1.5)), [30; 42]);
%! assert (tally_pairs_full (W, S, 1, sparse (1), F, sparse (0)), [30; 42; -6]);
%! assert (tally_pairs_full (W, S, 1, sparse (true), F, sparse (2)), [30; 42; -240]);
%! assert (tally_pairs_masked (W, S, 0, sparse (0)), zeros (2, 0));
%! % zero or one output
%! tally_pairs_masked (W, S, 1, 1);
%! assert (ans, [30; 42]);

%!test
%! % NaN among later values spreads, an infinite marker makes a value record,
%! % the masked variant never looks at the partner of a NaN record
%! t = tally_pairs_full ([2 3 5], {[2 1 3; 1 NaN Inf; NaN 0 1; 4 0 -1], zeros(4, 0), [1; NaN; 9; 9]}, 1, 1, [1 3 5; 2 4 6], 0);
%! assert (t, [Inf; NaN; 14; -14]);
%! assert (tally_pairs_masked (W, {[2 NaN; 5 NaN; 7 1], [-Inf; NaN; 1]}, 1, 1), [30; 42]);

%!test
%! % each term formed left to right and added at once: no fused multiply-add
%! x = 1 + 2^-27;
%! t = tally_pairs_full ([1 x], {[1 2; -1 NaN], [2 2; x NaN]}, 1, 1, [1 1; -1 1], 1);
%! assert (t(1) == 1.5 * 2^-26);
%! assert (t(2) == -2^-27);
%! big = 2^53;
%! assert (tally_pairs_masked ([1 1], {[1 1; big 1], [2 2; 1 -big]}, 1, 1) == 0);
%! assert (tally_pairs_masked ([big 1; -big 2^-53], {[2; 1], []}, ones (2), 1) == -1);

%!error <tally_pairs_full: Incorrect number of input arguments> tally_pairs_full ([2 3], {[2; 5; 7]}, 1, 1, 1)
%!error <tally_pairs_masked: Incorrect number of input arguments> tally_pairs_masked ([2 3], {[2; 5; 7]}, 1)
%!error <Second Arg: S_out needs to be a cell array> tally_pairs_full ('x', 5, 1, 1, 1, 1)
%!error <Second Arg: T_out needs to be a cell array> tally_pairs_masked ('x', [], 1, 1)
%!error <Input 2 \(T_out\): entry 2, record 1 names partner 3> tally_pairs_masked ([2 3], {[2; 5; 7], [3; 1; 1]}, 1, 1)
%!error <names partner 1000001, but partner indices must lie from 1 to 2 > tally_pairs_masked ([2 3], {[1000001; 5; 7], [1; 1; 1]}, 1, 1)
%!error <from 0 to 2147483647, but it is 2147483648$> tally_pairs_masked ([2 3], {[2; 5; 7], [1; 1; 1]}, 1, 2^31)
%!error <Input 4 \(r\) must be a number of classes from 0 to 2147483647, but it is of class char> tally_pairs_masked ([2 3], {[2; 5; 7], [1; 1; 1]}, 1, '3')
%!error <Input 6 \(F_switch\) must be a number, but it is complex> tally_pairs_full ([2 3], {[2; 5; 7], [1; 1; 1]}, 1, 1, ones (2), 1i)
%!error <tally_pairs_masked: Incorrect number of output arguments> c = cell(1, 2); [c{:}] = tally_pairs_masked ([2 3], {[2; 5; 7], [1; 1; 1]}, 1, 1);
%!error <tally_pairs_full: Incorrect number of output arguments> [a, b] = tally_pairs_full ([2 3], {[2; 5; 7], [1; 1; 1]}, 1, 1, ones (2), 1);

%!test
%! % the misspecification message (Octave drops its closing line feed)
%! calls = {@() tally_pairs_full([2 3], {[2; 5; 7], [1; NaN; 0]}, 1, 0, [5 7; 6 8], 1), 'tally_pairs_full'
%!          @() tally_pairs_full([2 3], {[2; 5; 7], [1; NaN; 0]}, 2, 1.9, [5 7; 6 8], 1), 'tally_pairs_full'
%!          @() tally_pairs_masked([2; 3], {[1; 1]}, [2.5 0; 0 0], 2.9), 'tally_pairs_masked'};
%! for k = 1:rows (calls)
%!   try
%!     calls{k, 1} ();
%!     error ('case %d: no error', k);
%!   catch err
%!     assert (regexp (err.message, ['^' calls{k, 2} ': Misspecification: R\[k1,k2\] > r\n?$']), 1);
%!     assert (err.identifier, '');
%!   end
%! end

%!test
%! % a misspecified pair goes unnoticed while no record reaches it
%! assert (tally_pairs_masked ([2; 3], {[1; NaN]}, [7 7; 7 7], 1), 0);
%! assert (tally_pairs_full (zeros (0, 1), {[1; 5; 6]}, [], 0, [1; 1], 1), zeros (3, 0));

%!test
%! % bad input is refused with an identifier that names the reason
%! W = [2 3]; S = {[2; 5; 7], [1; NaN; 0]}; F = [5 7; 6 8];
%! cases = {
%!   'notDouble',      @() tally_pairs_full (int8 (W), S, 1, 1, F, 1)
%!   'notDouble',      @() tally_pairs_full (W, {S{1}, 'abc'}, 1, 1, F, 1)
%!   'noEntries',      @() tally_pairs_full (W, {}, 1, 1, F, 1)
%!   'badClassCount',  @() tally_pairs_full (W, S, 1, NaN, F, 1)
%!   'badClassCount',  @() tally_pairs_full (W, S, 1, 2^31, F, 1)
%!   'badClassCount',  @() tally_pairs_full (W, S, 1, {1}, F, 1)
%!   'badClassCount',  @() tally_pairs_full (W, S, 1, '3', F, 1)
%!   'badClassCount',  @() tally_pairs_masked (W, S, 1, 1i)
%!   'badClassCount',  @() tally_pairs_full (W, S, 1, struct ('r', 1), F, 1)
%!   'badClassCount',  @() tally_pairs_masked (W, S, 1, containers.Map ())
%!   'badSwitch',      @() tally_pairs_full (W, S, 1, 1, F, [])
%!   'badSwitch',      @() tally_pairs_full (W, S, 1, 1, F, 1i)
%!   'badSwitch',      @() tally_pairs_full (W, S, 1, 1, F, @sin)
%!   'badClassCount',  @() tally_pairs_masked (W, S, 1, [2 5])
%!   'badClassCount',  @() tally_pairs_masked (W, S, 1, sparse ([0 5]))
%!   'badSwitch',      @() tally_pairs_full (W, S, 1, 1, F, [0 1])
%!   'badSwitch',      @() tally_pairs_full (W, S, 1, 1, F, sparse ([0 1]))
%!   'tooFewRows',     @() tally_pairs_full (W, {1, 2}, 1, 1, F, 1)
%!   'tooFewEntries',  @() tally_pairs_full (W, S(1), 1, 1, F, 1)
%!   'notDouble',      @() tally_pairs_full (zeros (1, 2, 0), S, 1, 1, F, 1)
%!   'notDouble',      @() tally_pairs_masked (ones (1, 2, 2), S, 1, 1)
%!   'notDouble',      @() tally_pairs_masked (W, {S{1}, ones(3, 1, 2)}, 1, 1)
%!   'tooFewElements', @() tally_pairs_full (W, S, [], 1, F, 1)
%!   'rowCount',       @() tally_pairs_full (W, {S{1}, [1; NaN]}, 1, 1, F, 1)
%!   'tooLarge',       @() tally_pairs_full (W, S, 1, 2^30, F, 1)
%!   'badPartner',     @() tally_pairs_full (W, {[0; 5; 7], S{2}}, 1, 1, F, 1)
%!   'badPartner',     @() tally_pairs_full (W, {S{1}, [NaN; NaN; 0]}, 1, 1, F, 1)
%! };
%! for k = 1:rows (cases)
%!   try
%!     cases{k, 2} ();
%!     error ('case %d: no error', k);
%!   catch err
%!     name = func2str (cases{k, 2})(5:end);
%!     name = name(1:find (name == ' ', 1) - 1);
%!     assert (err.identifier, [name ':' cases{k, 1}], sprintf ('case %d', k));
%!   end
%! end
%! try
%!   tally_pairs_masked (W, {[1; 5], [2; 1; 1]}, 1, 1);
%!   error ('no error');
%! catch err
%!   assert (err.identifier, 'tally_pairs_masked:rowCount');
%!   assert (err.message, 'tally_pairs_masked: Input 2 (T_out): entry 2 has 3 rows, but entry 1 sets n = 2 for every entry');
%! end

%!test
%! % help text of the plug-ins
%! text = evalc ('help tally_pairs_full');
%! assert (! isempty (strfind (text, 'Misspecification: R[k1,k2] > r')));
%! assert (! isempty (strfind (text, 'Example')));
%! text = evalc ('help tally_pairs_masked');
%! assert (! isempty (strfind (text, 'Second Arg: T_out needs to be a cell array')));
