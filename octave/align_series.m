%ALIGN_SERIES  Lay four lists of keyed tables out on one merged key axis.
%
%   [OUT1, OUT2, OUT3, OUT4] = align_series(IN1, IN2, IN3, IN4)
%
%   Every input is a cell list of double matrices ("tables") whose first row
%   holds ascending keys, one column per item, and whose other rows hold the
%   item's values. For each list entry i separately, the key rows of IN3{i}
%   and IN4{i} are merged into one key sequence (a key present in both
%   appears once), and each output entry carries that sequence in its first
%   row and, under each key, the values of the matching column of its input:
%
%     OUT1{i}, OUT2{i}   (V+1) x M   values of IN1{i}, IN2{i}, NaN where missing
%     OUT3{i}, OUT4{i}   E x M       values of IN3{i}, IN4{i}, 0 where missing
%
%   Inputs
%     IN1, IN2  value tables, each with V+1 rows (V is set by IN1{1}; IN1 may
%               be {} for V = 0, and IN2 is then never looked at).
%     IN3       statistics tables ("E_Distr statistics"), E >= 1 rows each
%               (E is set by IN3{1}). The number of rows of IN3 itself sets
%               the number N of entries processed: give lists as columns.
%     IN4       statistics tables with E rows each.
%   Every list needs at least N entries (a 1 x N cell counts too); an entry
%   with no columns is never read and may be [] or of any shape.
%
%   Outputs: four N x 1 cell lists.
%
%   Keys are compared as doubles: a NaN key equals nothing, and on equal keys
%   the merged copy is that of IN4 (which shows only for -0 against +0). An
%   input column is taken when its key equals the merged key at its turn; a
%   key that the merged sequence lacks holds that input there, and every
%   later column of the output gets the missing value for that input.
%
%   Errors
%     "Incorrect number of input arguments"    not 4 inputs
%     "Incorrect number of output arguments"   not 4 outputs
%     "E_Distr statistics must not be empty"   IN3 empty, or IN3{1} has no rows
%     align_series:notCell        an input is not a cell array
%     align_series:tooFewEntries  a list has fewer entries than IN3 has rows
%     align_series:notDouble      an entry is not a real double matrix, or
%                                 has columns and more than two dimensions
%     align_series:rowCount       an entry's rows differ from its list's first
%     align_series:noKeyRow       IN1{1} has no rows
%     align_series:tooLarge       an output would exceed 2^31-1 elements
%
%   Example
%     in3 = {[1 3; 0.5 0.7]};          % keys 1 and 3, one statistic each
%     in4 = {[2; 0.9]};                % key 2
%     in1 = {[1 3; 11 31]};            % values at keys 1 and 3
%     [o1, o2, o3, o4] = align_series(in1, in1, in3, in4);
%     o1{1}   % [1 2 3; 11 NaN 31]
%     o3{1}   % [1 2 3; 0.5 0 0.7]
%     o4{1}   % [1 2 3; 0 0.9 0]
%
%   See also: fold_links_full, tally_pairs_full, tablefold

% SPDX-License-Identifier: BSD-3-Clause

function varargout = align_series (varargin)
  not_compiled ('align_series');  % where no compiled align_series comes first
end

%!test
%! in1 = {[1 3; 11 31]};
%! [o1, o2, o3, o4] = align_series (in1, in1, {[1 3; 0.5 0.7]}, {[2; 0.9]});
%! assert (size (o1), [1 1]);
%! assert (o1{1}, [1 2 3; 11 NaN 31]);
%! assert (o2{1}, [1 2 3; 11 NaN 31]);
%! assert (o3{1}, [1 2 3; 0.5 0 0.7]);
%! assert (o4{1}, [1 2 3; 0 0.9 0]);
%!error <Incorrect number of input arguments> align_series ({}, {}, {})
%!error <E_Distr statistics must not be empty> [a, b, c, d] = align_series ({}, {}, {}, {})
%!error id=align_series:notCell [a, b, c, d] = align_series ({}, {}, 1, {})

%!demo
%! % Keys 1 and 3 in the statistics, key 2 in their companion list: every
%! % output carries the merged keys 1 2 3 in its first row.
%! in3 = {[1 3; 0.5 0.7]};
%! in4 = {[2; 0.9]};
%! in1 = {[1 3; 11 31]};
%! [o1, o2, o3, o4] = align_series (in1, in1, in3, in4);
%! o1{1}   % values where the table has a column, NaN elsewhere
%! o3{1}   % statistics where the table has a column, 0 elsewhere
%! o4{1}

%!test
%! % the compiled function in this folder is the one called
%! name = 'align_series';
%! source (fullfile (fileparts (file_in_loadpath ([name '.m'])), 'private', 'compiled_here.m'));
