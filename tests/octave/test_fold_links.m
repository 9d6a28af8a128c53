% SPDX-License-Identifier: BSD-3-Clause

% fold_links_full and fold_links_masked through GNU Octave's own
% host, in either build (the native functions or the MEX files;
% tests/octave/run_octave_test names the folder).

%!test
%! % partner ends 2 5 3 5 7 in second-end entry 1; inputs stay unchanged
%! links = [2 5 3 5 7; 1 1 1 1 1; 1 10 100 1000 10000];
%! counts = [5 0 0 0 0 0 0; 0 1 1 0 2 0 1];
%! L = links; C = counts;
%! [o1, o2] = fold_links_full (L, C);
%! assert (size (o1), [7 1]);
%! assert (o1{1}, [2 5 7; 1 1110 10000]);
%! assert (o2{5}, [1; 1010]);
%! assert (size (o1{2}), [2 0]);
%! assert (L, links);
%! assert (C, counts);
%! [o1, o2] = fold_links_masked (L, C);
%! assert (o1{1}, [2 5 7; 1 1110 10000]);
%! assert (o2{5}, [1; 1000]);

%!test
%! % NaN in row 3 skips a link (its ends unused), NaN in row 4 is carried;
%! % counts including the skipped link leave a surplus zero column; an index
%! % whose only link is skipped gets an entry without columns
%! [o1, o2] = fold_links_masked ([1 99 1; 2 -3 2; 4 NaN 3; 6 5 NaN], [0 3; 3 0]);
%! assert (o1{2}, [1; 7; NaN]);
%! assert (o2{1}, [2; 0; 0]);
%! [o1, o2] = fold_links_masked ([1; 2; NaN], [0 1; 1 0]);
%! assert (size (o1{2}), [2 0]);
%! assert (size (o2{1}), [2 0]);

%!test
%! % fractions truncate, ends equal, v = 2, N = 0
%! [o1, o2] = fold_links_full ([2.9 2; 1.5 2; 7 9], [1 1; 0 2]);
%! assert (o1{1}, [2; 7]);
%! assert (o2{2}, [1 2; 7 9]);
%! [o1, o2] = fold_links_full ([1 1 1; 2 3 2], [0 2 1; 3 0 0]);
%! assert (o2{1}, [2 3]);
%! [o1, o2] = fold_links_full (zeros (2, 0), zeros (2, 0));
%! assert (size (o1), [0 1]);

%!error <fold_links_full: Incorrect number of input arguments> fold_links_full ([1; 1])
%!error <Incorrect number of output arguments> a = fold_links_masked ([1; 1; 1], [1; 1])
%!error <Input 2 \(the count matrix\) must be a real double matrix> [a, b] = fold_links_masked ([1; 1; 1], {1})
%!error <Index 2: row 2 of the count matrix holds -1> [a, b] = fold_links_full ([1; 1], [1 0; 1 -1])
%!error <Link 2: its second end NaN does not truncate to an index from 1 to 2> [a, b] = fold_links_full ([1 1; 1 NaN], [1 0; 1 0])
%!error <Link 1: its first end 0.9999999999999999 does not truncate> [a, b] = fold_links_full ([1 - eps / 2; 1], [1; 1])
%!error <Index 1: row 1 of the count matrix holds 2147483648,> [a, b] = fold_links_full ([1; 1], [2^31; 1])
%!error <Link 2: more links have first end 1 than row 2 of the count matrix allows for it \(1\)> [a, b] = fold_links_full ([1 1; 1 2], [1 1; 1 0])

%!test
%! % every rejection's identifier
%! cases = {@() fold_links_full ('ab', [1; 1]), 'fold_links_full:notDouble';
%!          @() fold_links_masked ([1; 1], [1; 1]), 'fold_links_masked:linkRows';
%!          @() fold_links_masked ([1; 1; 1], [1 1]), 'fold_links_masked:countRows';
%!          @() fold_links_full ([1; 1], [Inf; 1]), 'fold_links_full:badCount';
%!          @() fold_links_full ([1; 1; 1], [1; 2^30]), 'fold_links_full:tooLarge';
%!          @() fold_links_masked ([0; 1; 1], [1; 1]), 'fold_links_masked:badIndex';
%!          @() fold_links_masked ([1 1; 1 1; 1 1], [1; 1]), 'fold_links_masked:bucketOverflow'};
%! for k = 1:rows (cases)
%!   try
%!     [a, b] = cases{k, 1} ();
%!     error ('no error');
%!   catch err
%!     assert (err.identifier, cases{k, 2});
%!   end
%! end

%!test
%! % help text of the plug-ins
%! assert (! isempty (strfind (evalc ('help fold_links_masked'), 'fold_links_masked:bucketOverflow')));
%! assert (! isempty (strfind (evalc ('help fold_links_full'), 'Example')));
