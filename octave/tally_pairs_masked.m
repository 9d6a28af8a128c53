%TALLY_PAIRS_MASKED  Tally classed pair products of a record list, NaN records skipped.
%
%   TALLY = tally_pairs_masked(W, T_OUT, R, r)
%
%   W is a K x G weight matrix: column g holds the weights of entry g, row k
%   the weight of row k of the pair-class matrix R. T_OUT is a cell list
%   whose entry g holds the records of entry g, one per column. A record is
%   a column E of n elements (n is the row count of T_OUT{1}):
%
%     E(1)         the partner's index: entry d = fix(E(1)), from 1 to G
%     E(2)         the marker: a NaN record is skipped whole, its partner
%                  index included; any other record is a value record whose
%                  values are E(2) to E(n)
%
%   For every value record of entry g and every pair (k1, k2) whose class
%   number c = R(k1, k2) is above 0, with column col = fix(c - 1) + 1 (a c
%   between 0 and 1 selects column 1):
%
%     TALLY(i, col) += (W(k1, g) * W(k2, d)) * E(i + 1)   for i = 1 .. n-1
%
%   Entries, records, k1 (outer) and k2 (inner) are taken in rising order;
%   every product is formed left to right and added at once, with no fused
%   multiply-add, so results are exactly reproducible. Zero, negative and NaN
%   class numbers contribute nothing.
%
%   Inputs: W, T_OUT, R and r are what tally_pairs_full takes as W, S_OUT,
%   R and r, and "help tally_pairs_full" gives the whole of what each may
%   be: in short, W a K x G real double matrix, T_OUT a cell list of at
%   least G entries of n >= 2 rows, R a real double matrix read as K x K,
%   and r a number of classes from 0 to 2^31-1.
%
%   Output: the (n-1) x r TALLY of the value rows, the one output, at most
%   2^31-1 elements.
%
%   Errors
%     "Incorrect number of input arguments"          not 4 inputs
%     "Incorrect number of output arguments"         more than 1 output
%     "Second Arg: T_out needs to be a cell array"   T_OUT is no cell array
%     "Misspecification: R[k1,k2] > r"               a value record reaches a
%         pair whose class number exceeds r (the message ends with a line
%         feed; a class above r that no record reaches goes unnoticed)
%     tally_pairs_masked:notDouble       W, R or an entry of T_OUT is not a
%                                        real double matrix, or W (or an
%                                        entry with records) has more than
%                                        two dimensions
%     tally_pairs_masked:noEntries       T_OUT has no entries
%     tally_pairs_masked:badClassCount   r is empty, a cell array, of a
%                                        class that is not numeric or logical
%                                        (char, struct, function handle,
%                                        object), complex, of more than one
%                                        element, NaN, infinite, -1 or less,
%                                        or 2^31 or more
%     tally_pairs_masked:tooFewRows      T_OUT{1} has fewer than 2 rows
%     tally_pairs_masked:tooFewEntries   T_OUT has fewer than G entries
%     tally_pairs_masked:tooLarge        K x G, K x K, an entry or the tally
%                                        exceeds 2^31-1 elements
%     tally_pairs_masked:tooFewElements  R has fewer than K x K elements
%     tally_pairs_masked:rowCount        an entry with records has not n rows
%     tally_pairs_masked:badPartner      a value record's partner index is not
%                                        1 to G after truncation (NaN, Inf
%                                        included); found when it is reached
%   Errors are reported in this order; of a misspecified pair and a bad
%   partner index, the one that the walk through the records meets first.
%
%   Example
%     W = [2 3];                          % K = 1 row, G = 2 entries
%     T_out = {[2; 5; 7], [1; NaN; 0]};   % a value record, a NaN record
%     tally_pairs_masked (W, T_out, 1, 1)   % [30; 42]
%
%   See also: tally_pairs_full, tablefold

% SPDX-License-Identifier: BSD-3-Clause

function varargout = tally_pairs_masked (varargin)
  not_compiled ('tally_pairs_masked');  % where no compiled tally_pairs_masked comes first
end

%!test
%! T_out = {[2; 5; 7], [1; NaN; 0]};
%! assert (tally_pairs_masked ([2 3], T_out, 1, 1), [30; 42]);
%!error <Incorrect number of input arguments> tally_pairs_masked ([2 3], {[2; 5; 7]}, 1)
%!error id=tally_pairs_masked:badClassCount tally_pairs_masked ([2 3], {[2; 5; 7]}, 1, NaN)

%!demo
%! % Entry 1 holds a value record naming entry 2; the NaN record of entry 2
%! % is skipped.
%! W = [2 3];
%! T_out = {[2; 5; 7], [1; NaN; 0]};
%! tally_pairs_masked (W, T_out, 1, 1)

%!test
%! % the compiled function in this folder is the one called
%! name = 'tally_pairs_masked';
%! source (fullfile (fileparts (file_in_loadpath ([name '.m'])), 'private', 'compiled_here.m'));
