%FOLD_LINKS_MASKED  File links under both ends and fold them, skipping NaN links.
%
%   [BY_SECOND, BY_FIRST] = fold_links_masked(LINKS, COUNTS)
%
%   LINKS is a v x n double matrix, one link per column: row 1 its first end,
%   row 2 its second end (index values in 1..N; a fraction is truncated, so
%   2.9 is index 2), rows 3 to v its values. A link whose row 3 is NaN is
%   skipped: it reaches neither output and its ends are not looked at. NaN in
%   a later row is carried like any value. COUNTS is a 2 x N double matrix;
%   column i gives the number of links whose second end is i (row 1) and
%   whose first end is i (row 2). N, the number of columns of COUNTS, sets
%   the index range and the length of both outputs.
%
%   For every index i, the links of one list entry are folded in link order:
%   each link is merged into an output column labelled with its other end
%   (the partner end), and a new column opens only when the partner end rises
%   above every partner end before it; a link whose partner end does not
%   (an equal, lower or repeated one) joins the column opened last.
%
%   Outputs: two N x 1 cell lists; every entry has v-1 rows (row 1 the
%   partner ends, rows 2 to v-1 the values):
%     BY_SECOND{i}   the links whose second end is i, folded on first ends;
%                    values: the sum of the merged links
%     BY_FIRST{i}    the links whose first end is i, folded on second ends;
%                    values: those of the last link merged into the column
%   A link whose two ends are both i appears in both entries i.
%
%   Limits
%     v >= 3 (row 3 is the value tested for NaN).
%     COUNTS has exactly 2 rows; every count is at least 0 and below 2^31
%     (a fraction is truncated).
%     A count may exceed the links taken there, for example when it includes
%     skipped links: the surplus columns count as zero links joining the
%     column opened last, so sums stay unchanged while in BY_FIRST that
%     column's values become 0. An index whose count is positive but which
%     receives no link gets an entry of v-1 rows and no columns, as does a
%     count of 0.
%
%   Errors
%     "Incorrect number of input arguments"    not 2 inputs
%     "Incorrect number of output arguments"   not 2 outputs
%     fold_links_masked:notDouble       LINKS or COUNTS is not a real double matrix
%     fold_links_masked:linkRows        LINKS has fewer than 3 rows
%     fold_links_masked:countRows       COUNTS has other than 2 rows
%     fold_links_masked:badCount        a count is negative, not finite, or 2^31 or more
%     fold_links_masked:tooLarge        an array would hold 2^31 elements or more
%     fold_links_masked:badIndex        an end of a taken link does not truncate to
%                                       1..N (NaN, Inf too)
%     fold_links_masked:bucketOverflow  more taken links land in an entry than its count
%   Each message names the link (column of LINKS) or index concerned.
%
%   Example
%     links = [1 1 1 2; 2 2 2 1; 4 NaN 6 8];   % link 2 is skipped
%     counts = [1 3; 3 1];                     % the counts may include it
%     [by_second, by_first] = fold_links_masked (links, counts);
%     by_second{2}   % [1; 10]   (4 + 6, plus a surplus zero column)
%     by_first{1}    % [2; 0]    (the surplus column comes last)
%     by_first{2}    % [1; 8]
%
%   The count matrix from the link matrix, for N indices, counting only the
%   links taken (so that no surplus zero column overwrites a kept value):
%     TAKE = ~isnan (LINKS(3, :));
%     COUNTS = [accumarray(fix (LINKS(2, TAKE))', 1, [N 1])'
%               accumarray(fix (LINKS(1, TAKE))', 1, [N 1])'];
%
%   See also: fold_links_full, tablefold

% SPDX-License-Identifier: BSD-3-Clause

function varargout = fold_links_masked (varargin)
  not_compiled ('fold_links_masked');  % where no compiled fold_links_masked comes first
end

%!test
%! links = [1 1 1 2; 2 2 2 1; 4 NaN 6 8];
%! [by_second, by_first] = fold_links_masked (links, [1 3; 3 1]);
%! assert (by_second{2}, [1; 10]);
%! assert (by_first{1}, [2; 0]);
%! assert (by_first{2}, [1; 8]);
%!error <Incorrect number of input arguments> [a, b] = fold_links_masked ([1; 1; 1])
%!error id=fold_links_masked:linkRows [a, b] = fold_links_masked ([1; 1], [1; 1])

%!demo
%! % Link 2 has NaN as its first value and is skipped; the counts may still
%! % include it.
%! links = [1 1 1 2; 2 2 2 1; 4 NaN 6 8];
%! counts = [1 3; 3 1];
%! [by_second, by_first] = fold_links_masked (links, counts);
%! by_second{2}   % 4 + 6, plus a surplus zero column
%! by_first{1}    % the surplus column comes last
%! by_first{2}

%!test
%! % the compiled function in this folder is the one called
%! name = 'fold_links_masked';
%! source (fullfile (fileparts (file_in_loadpath ([name '.m'])), 'private', 'compiled_here.m'));
