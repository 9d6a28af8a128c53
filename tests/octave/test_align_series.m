% SPDX-License-Identifier: BSD-3-Clause

% align_series through GNU Octave's own host, in either build (the native
% function or the MEX file; tests/octave/run_octave_test names the folder).

%!test
%! [o1, o2, o3, o4] = align_series ({[1 3; 11 31]}, {[1 3; 11 31]}, {[1 3; 0.5 0.7]}, {[2; 0.9]});
%! assert (o1{1}, [1 2 3; 11 NaN 31]);
%! assert (o2{1}, [1 2 3; 11 NaN 31]);
%! assert (o3{1}, [1 2 3; 0.5 0 0.7]);
%! assert (o4{1}, [1 2 3; 0 0.9 0]);
%! assert (size (o1), [1 1]);

%!test
%! % NaN keys, repeated keys, keys out of order: the merge rules
%! [~, ~, o3, o4] = align_series ({}, {}, {[1 3; 10 20]; [NaN 2; 10 20]; [3 1; 10 20]}, ...
%!                                {[2 NaN; 100 200]; [1 3; 100 200]; [2; 100]});
%! assert (o3{1}, [1 2 NaN; 10 0 0]);
%! assert (o4{1}, [1 2 NaN; 0 100 0]);
%! assert (o3{2}, [1 2 3; 0 0 0]);
%! assert (o4{2}, [1 2 3; 100 0 200]);
%! assert (o3{3}, [2 3 1; 0 10 20]);
%! assert (size (o3), [3 1]);

%!test
%! % signed zeros: the copy of input 4 is emitted
%! [~, ~, o3, ~] = align_series ({}, {}, {[-0; 1]}, {[0; 2]});
%! assert (1 / o3{1}(1), Inf);
%! [~, ~, o3, ~] = align_series ({}, {}, {[0; 1]}, {[-0; 2]});
%! assert (1 / o3{1}(1), -Inf);

%!test
%! % V = 0: input 2 is never read, whatever it is
%! [o1, o2, ~, ~] = align_series ({}, 'anything', {[1 2; 3 4]}, {zeros(2, 0)});
%! assert (o1{1}, [1 2]);
%! assert (o2{1}, [1 2]);

%!test
%! % both entries without columns; E = 1
%! [o1, ~, o3, o4] = align_series ({[1; 2]}, {[1; 2]}, {zeros(3, 0)}, {[]});
%! assert (size (o1{1}), [2 0]);
%! assert (size (o4{1}), [3 0]);
%! % an entry without columns may have further dimensions: it is never read
%! [~, ~, ~, o4] = align_series ({[1; 2]}, {[1; 2]}, {zeros(3, 0)}, {zeros(3, 0, 2)});
%! assert (size (o4{1}), [3 0]);
%! [~, ~, o3, ~] = align_series ({}, {}, {[1 3]}, {[3]});
%! assert (o3{1}, [1 3]);

%!test
%! % a list given as a row of tables: N = 1
%! [o1, ~, o3, ~] = align_series ({}, {}, {[1; 1], [2; 2]}, {[5; 5]});
%! assert (size (o1), [1 1]);
%! assert (o3{1}, [1 5; 1 0]);

%!error <align_series: Incorrect number of input arguments> align_series ({}, {}, {})
%!error <Incorrect number of output arguments> [a, b] = align_series ({}, {}, {[1]}, {[1]})
%!error <E_Distr statistics must not be empty> [a, b, c, d] = align_series ({}, {}, {}, {[1]})
%!error <E_Distr statistics must not be empty> [a, b, c, d] = align_series (5, {}, {zeros(0, 2)}, {[1]})
%!error <Input 1 must be a cell array> [a, b, c, d] = align_series (5, {}, {[1]}, {[1]})
%!error <Input 4 has 1 entry, but input 3 has 2 rows> [a, b, c, d] = align_series ({}, {}, {[1]; [2]}, {[1]})
%!error <Input 3: entry 2 has 3 rows, but the first entry of its list sets 2> [a, b, c, d] = align_series ({}, {}, {[1; 1]; [1; 2; 3]}, {[1; 1]; [1; 1]})
%!error <Input 4: entry 1 is not a real double matrix> [a, b, c, d] = align_series ({}, {}, {[1]}, {int8(1)})
%!error <Input 4: entry 1 has 3 dimensions, but an entry with columns must be a matrix of two> [a, b, c, d] = align_series ({}, {}, {[1]}, {ones(1, 1, 2)})
%!error <Entry 1: 512 keys of 4194304 rows exceed the largest output this plug-in can create \(2147483647 elements\)> [a, b, c, d] = align_series ({zeros(2^22, 0)}, {[]}, {1:512}, {[]})
%!error <Input 1: entry 1 has no rows> [a, b, c, d] = align_series ({zeros(0, 2)}, {}, {[1]}, {[1]})

## the identifiers; dimensions beyond the 32-bit range are refused, not truncated
%!error id=align_series:notDouble [a, b, c, d] = align_series ({}, {}, {[1]}, {1i})
%!error id=mexhost:dimensionTooLarge [a, b, c, d] = align_series ({}, {}, {[1]}, {zeros(0, 2^31)})

%!test
%! % help text of the plug-in
%! text = evalc ('help align_series');
%! assert (! isempty (strfind (text, 'E_Distr statistics must not be empty')));
%! assert (! isempty (strfind (text, 'Example')));

%!test
%! % The native function asks for huge pages on output blocks of 32 MiB and
%! % more (where the system grants them on request), unless
%! % TABLEFOLD_HUGE_PAGES=0; each value block here is 42 MB.
%! [~, ~, ext] = fileparts (which ('align_series'));
%! mode = '';
%! if (exist ('/sys/kernel/mm/transparent_hugepage/enabled', 'file'))
%!   mode = fileread ('/sys/kernel/mm/transparent_hugepage/enabled');
%! end
%! if (strcmp (ext, '.oct') && ! isempty (strfind (mode, '[madvise]')))
%!   huge_kb = @() str2double (regexp (fileread ('/proc/self/smaps_rollup'), ...
%!                                     'AnonHugePages:\s+(\d+)', 'tokens', 'once'){1});
%!   t = [1:250000; zeros(20, 250000)];
%!   k = {1:250000};
%!   old = getenv ('TABLEFOLD_HUGE_PAGES');
%!   unwind_protect
%!     for setting = {'', '0'}
%!       setenv ('TABLEFOLD_HUGE_PAGES', setting{1});
%!       before = huge_kb ();
%!       [o1, o2, o3, o4] = align_series ({t}, {t}, k, k);
%!       rise = huge_kb () - before;
%!       assert (isequal (o1{1}, t) && isequal (o2{1}, t));
%!       assert (rise >= 2048 * isempty (setting{1}) && (rise < 2048 || isempty (setting{1})));
%!       clear o1 o2 o3 o4;
%!     end
%!   unwind_protect_cleanup
%!     setenv ('TABLEFOLD_HUGE_PAGES', old);
%!   end_unwind_protect
%! end
