%FOLD_LINKS_FULL  File links under both ends and fold them per partner end (sums).
%
%   [BY_SECOND, BY_FIRST] = fold_links_full(LINKS, COUNTS)
%
%   LINKS is a v x n double matrix, one link per column: row 1 its first end,
%   row 2 its second end (index values in 1..N; a fraction is truncated, so
%   2.9 is index 2), rows 3 to v its values (any doubles, NaN included).
%   COUNTS is a 2 x N double matrix; column i gives the number of links whose
%   second end is i (row 1) and whose first end is i (row 2). N, the number
%   of columns of COUNTS, sets the index range and the length of both
%   outputs.
%
%   For every index i, the links of one list entry are folded in link order:
%   each link is merged into an output column labelled with its other end
%   (the partner end), and a new column opens only when the partner end rises
%   above every partner end before it; a link whose partner end does not
%   (an equal, lower or repeated one) joins the column opened last.
%
%   Outputs: two N x 1 cell lists; every entry has v-1 rows (row 1 the
%   partner ends, rows 2 to v-1 the summed values of the merged links):
%     BY_SECOND{i}   the links whose second end is i, folded on first ends
%     BY_FIRST{i}    the links whose first end is i, folded on second ends
%   A link whose two ends are both i appears in both entries i.
%
%   Limits
%     v >= 2 (v = 2: the entries hold the rising partner ends alone).
%     COUNTS has exactly 2 rows; every count is at least 0 and below 2^31
%     (a fraction is truncated).
%     A count may exceed the links landing there: the surplus columns count
%     as zero links joining the column opened last (sums stay unchanged).
%     An index whose count is positive but which receives no link gets an
%     entry of v-1 rows and no columns, as does a count of 0.
%
%   Errors
%     "Incorrect number of input arguments"    not 2 inputs
%     "Incorrect number of output arguments"   not 2 outputs
%     fold_links_full:notDouble       LINKS or COUNTS is not a real double matrix
%     fold_links_full:linkRows        LINKS has fewer than 2 rows
%     fold_links_full:countRows       COUNTS has other than 2 rows
%     fold_links_full:badCount        a count is negative, not finite, or 2^31 or more
%     fold_links_full:tooLarge        an array would hold 2^31 elements or more
%     fold_links_full:badIndex        a link end does not truncate to 1..N (NaN, Inf too)
%     fold_links_full:bucketOverflow  more links land in an entry than its count
%   Each message names the link (column of LINKS) or index concerned.
%
%   Example
%     links = [2 5 3 5 7; 1 1 1 1 1; 1 10 100 1000 10000];
%     counts = [5 0 0 0 0 0 0; 0 1 1 0 2 0 1];
%     [by_second, by_first] = fold_links_full (links, counts);
%     by_second{1}   % [2 5 7; 1 1110 10000]
%     by_first{5}    % [1; 1010]
%   The link from 3 joins the column of 5, opened before it. Sorted first,
%   links = sortrows (links', [1 2])', every partner gets a column of its own.
%
%   The count matrix from the link matrix, for N indices:
%     COUNTS = [accumarray(fix (LINKS(2, :))', 1, [N 1])'
%               accumarray(fix (LINKS(1, :))', 1, [N 1])'];
%
%   See also: fold_links_masked, tablefold

% SPDX-License-Identifier: BSD-3-Clause

function varargout = fold_links_full (varargin)
  not_compiled ('fold_links_full');  % where no compiled fold_links_full comes first
end

%!test
%! links = [2 5 3 5 7; 1 1 1 1 1; 1 10 100 1000 10000];
%! counts = [5 0 0 0 0 0 0; 0 1 1 0 2 0 1];
%! [by_second, by_first] = fold_links_full (links, counts);
%! assert (size (by_second), [7 1]);
%! assert (by_second{1}, [2 5 7; 1 1110 10000]);
%! assert (by_first{5}, [1; 1010]);
%!error <Incorrect number of output arguments> fold_links_full ([1; 1; 1], [1; 1])
%!error id=fold_links_full:countRows [a, b] = fold_links_full ([1; 1; 1], [1 1 1])

%!demo
%! % Five links from indices 2, 5, 3, 5 and 7 to index 1, with one value each.
%! links = [2 5 3 5 7; 1 1 1 1 1; 1 10 100 1000 10000];
%! counts = [5 0 0 0 0 0 0; 0 1 1 0 2 0 1];
%! [by_second, by_first] = fold_links_full (links, counts);
%! by_second{1}   % the links into index 1, folded on their first ends
%! by_first{5}    % the two links out of index 5, summed

%!test
%! % the compiled function in this folder is the one called
%! name = 'fold_links_full';
%! source (fullfile (fileparts (file_in_loadpath ([name '.m'])), 'private', 'compiled_here.m'));
