%TALLY_PAIRS_FULL  Tally classed pair products of a record list, NaN records included.
%
%   TALLY = tally_pairs_full(W, S_OUT, R, r, F, F_SWITCH)
%
%   W is a K x G weight matrix: column g holds the weights of entry g, row k
%   the weight of row k of the pair-class matrix R. S_OUT is a cell list
%   whose entry g holds the records of entry g, one per column. A record is
%   a column E of n elements (n is the row count of S_OUT{1}):
%
%     E(1)         the partner's index: entry d = fix(E(1)), from 1 to G
%     E(2)         the marker: NaN makes a NaN record, anything else a value
%                  record whose values are E(2) to E(n)
%
%   For every record of entry g and every pair (k1, k2) whose class number
%   c = R(k1, k2) is above 0, with column col = fix(c - 1) + 1 (a c between
%   0 and 1 selects column 1):
%
%     value record  TALLY(i, col) += (W(k1, g) * W(k2, d)) * E(i + 1)
%                   for i = 1 .. n-1
%     NaN record    TALLY(n, col) -= ((F(2, g) * W(k1, g)) * F(1, d)) * W(k2, d)
%                   when F_SWITCH is not 0 (NaN is not 0), else
%                   TALLY(n, col) -= W(k1, g) * W(k2, d)
%
%   Entries, records, k1 (outer) and k2 (inner) are taken in rising order;
%   every product is formed left to right and added at once, with no fused
%   multiply-add, so results are exactly reproducible. Zero, negative and NaN
%   class numbers contribute nothing. F_SWITCH is read again for every
%   contributing pair of a NaN record.
%
%   Inputs
%     W         K x G real double matrix (two dimensions only).
%     S_OUT     cell list with at least G entries (a 1 x G cell counts too);
%               entries 1 to G are real double matrices of n rows, n >= 2
%               (an entry without columns is never read and may be [] or
%               of any shape, zeros(n, 0, 2) too).
%     R         real double matrix of at least K x K elements, read as K x K
%               in column order whatever its shape.
%     r         the number of classes, truncated toward zero: 0 to 2^31-1;
%               one real number (1 x 1, full or sparse) of any numeric
%               class or logical (true is 1).
%     F         real double matrix of at least 2 x G elements, read as 2 x G
%               in column order whatever its shape: F(1, d) is the
%               partner's factor, F(2, g) the entry's.
%     F_SWITCH  one real number (1 x 1, full or sparse) of any numeric class
%               or logical: 0 (or false) gives plain NaN-record terms,
%               anything else (NaN too) factor-weighted ones.
%
%   Output: the n x r TALLY, the one output; rows 1 to n-1 hold the value
%   tallies, row n the NaN-record tally. n x r must not exceed 2^31-1
%   elements.
%
%   Errors
%     "Incorrect number of input arguments"          not 6 inputs
%     "Incorrect number of output arguments"         more than 1 output
%     "Second Arg: S_out needs to be a cell array"   S_OUT is no cell array
%     "Misspecification: R[k1,k2] > r"               a record reaches a pair
%         whose class number exceeds r (the message ends with a line feed;
%         a class above r that no record reaches goes unnoticed)
%     tally_pairs_full:notDouble       W, R, F or an entry of S_OUT is not a
%                                      real double matrix, or W (or an
%                                      entry with records) has more than
%                                      two dimensions
%     tally_pairs_full:noEntries       S_OUT has no entries
%     tally_pairs_full:badClassCount   r is empty, a cell array, of a class
%                                      that is not numeric or logical (char,
%                                      struct, function handle, object),
%                                      complex, of more than one element,
%                                      NaN, infinite, -1 or less, or 2^31 or
%                                      more
%     tally_pairs_full:badSwitch       F_SWITCH is empty, a cell array, of a
%                                      class that is not numeric or logical,
%                                      complex, or of more than one element
%     tally_pairs_full:tooFewRows      S_OUT{1} has fewer than 2 rows
%     tally_pairs_full:tooFewEntries   S_OUT has fewer than G entries
%     tally_pairs_full:tooLarge        K x G, K x K, an entry or the tally
%                                      exceeds 2^31-1 elements
%     tally_pairs_full:tooFewElements  R has fewer than K x K elements, or
%                                      F fewer than 2 x G
%     tally_pairs_full:rowCount        an entry with records has not n rows
%     tally_pairs_full:badPartner      a record's partner index is not 1 to G
%                                      after truncation (NaN, Inf included);
%                                      found when the record is reached
%   Errors are reported in this order; of a misspecified pair and a bad
%   partner index, the one that the walk through the records meets first.
%
%   Example
%     W = [2 3];                          % K = 1 row, G = 2 entries
%     S_out = {[2; 5; 7], [1; NaN; 0]};   % a value record, a NaN record
%     F = [5 7; 6 8];
%     tally_pairs_full (W, S_out, 1, 1, F, 1)   % [30; 42; -240]
%     tally_pairs_full (W, S_out, 1, 1, F, 0)   % [30; 42; -6]
%
%   See also: tally_pairs_masked, tablefold

% SPDX-License-Identifier: BSD-3-Clause

function varargout = tally_pairs_full (varargin)
  not_compiled ('tally_pairs_full');  % where no compiled tally_pairs_full comes first
end

%!test
%! W = [2 3];
%! S_out = {[2; 5; 7], [1; NaN; 0]};
%! F = [5 7; 6 8];
%! assert (tally_pairs_full (W, S_out, 1, 1, F, 1), [30; 42; -240]);
%! assert (tally_pairs_full (W, S_out, 1, 1, F, 0), [30; 42; -6]);
%!error <Second Arg: S_out needs to be a cell array> tally_pairs_full ([2 3], 1, 1, 1, [5 7; 6 8], 1)
%!error id=tally_pairs_full:badSwitch tally_pairs_full ([2 3], {[2; 5; 7]}, 1, 1, [5 7; 6 8], [])

%!demo
%! % Entry 1 holds a value record naming entry 2, entry 2 a NaN record.
%! W = [2 3];
%! S_out = {[2; 5; 7], [1; NaN; 0]};
%! F = [5 7; 6 8];
%! tally_pairs_full (W, S_out, 1, 1, F, 1)   % factor-weighted NaN-record term
%! tally_pairs_full (W, S_out, 1, 1, F, 0)   % plain NaN-record term

%!test
%! % the compiled function in this folder is the one called
%! name = 'tally_pairs_full';
%! source (fullfile (fileparts (file_in_loadpath ([name '.m'])), 'private', 'compiled_here.m'));
