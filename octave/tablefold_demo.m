%TABLEFOLD_DEMO  A tour of the toolbox's plug-ins on small, readable examples.
%
%   tablefold_demo prints each plug-in's inputs and results. It runs in GNU
%   Octave or MATLAB with the toolbox on the path; from a source tree,
%   `make demo` builds the toolbox and runs it. In Octave, `demo NAME` runs
%   a plug-in's worked example alone.
%
%   See also: align_series, fold_links_full, fold_links_masked,
%             tally_pairs_full, tally_pairs_masked

% SPDX-License-Identifier: BSD-3-Clause

format short g

%% align_series: two statistics lists and two value lists on one key axis
disp ('=== align_series ===')
in1 = {[1 3; 11 31]};             % value table: keys 1 and 3, one value row
in2 = {[2 3; 22 33]};             % another value table: keys 2 and 3
in3 = {[1 3; 0.5 0.7; 5 7]};      % statistics ("E_Distr statistics"): keys 1 and 3
in4 = {[2 4; 0.9 0.4; 9 4]};      % companion statistics: keys 2 and 4
disp ('in1{1} ='), disp (in1{1})
disp ('in2{1} ='), disp (in2{1})
disp ('in3{1} ='), disp (in3{1})
disp ('in4{1} ='), disp (in4{1})
[out1, out2, out3, out4] = align_series (in1, in2, in3, in4);
disp ('merged keys 1 2 3 4; NaN (outputs 1, 2) or 0 (outputs 3, 4) where a table has no column:')
disp ('out1{1} ='), disp (out1{1})
disp ('out2{1} ='), disp (out2{1})
disp ('out3{1} ='), disp (out3{1})
disp ('out4{1} ='), disp (out4{1})

%% fold_links_full and fold_links_masked: file links under both ends and fold them
disp ('=== fold_links_full / fold_links_masked ===')
% Five links (columns): first end, second end, and two values. Link 4 has
% NaN as its first value, so fold_links_masked skips it.
links = [2 3 2 1 3; 1 1 1 3 3; 10 20 30 NaN 50; 1 2 3 4 5];
% Per index: links by second end (row 1) and by first end (row 2), counting
% every link: in the masked call second-end entry 3 keeps a surplus column,
% and first-end entry 1 receives no link at all (an entry without columns).
counts = [3 0 2; 1 2 2];
disp ('links ='), disp (links)
disp ('counts ='), disp (counts)
[by_second, by_first] = fold_links_full (links, counts);
disp ('fold_links_full: by_second{i} (links whose second end is i, folded on first ends, summed):')
for i = 1:3, fprintf ('by_second{%d} =\n', i), disp (by_second{i}), end
disp ('fold_links_full: by_first{i} (links whose first end is i, folded on second ends, summed):')
for i = 1:3, fprintf ('by_first{%d} =\n', i), disp (by_first{i}), end
[by_second, by_first] = fold_links_masked (links, counts);
disp ('fold_links_masked: link 4 skipped; by_first keeps the last merged values:')
for i = 1:3, fprintf ('by_second{%d} =\n', i), disp (by_second{i}), end
for i = 1:3, fprintf ('by_first{%d} =\n', i), disp (by_first{i}), end

%% tally_pairs_full / tally_pairs_masked: classed pair products of a record list
disp ('=== tally_pairs_full, tally_pairs_masked ===')
W = [2 3];                        % weights: K = 1 row, G = 2 entries
S_out = {[2; 5; 7], [1; NaN; 0]}; % entry 1: a value record naming entry 2;
                                  % entry 2: a NaN record naming entry 1
R = 1;                            % the one pair (1,1) is of class 1
r = 1;                            % one class
F = [5 7; 6 8];                   % factors: row 1 for the partner, row 2 for the entry
disp ('W ='), disp (W)
disp ('S_out{1} ='), disp (S_out{1})
disp ('S_out{2} ='), disp (S_out{2})
disp ('R ='), disp (R)
disp ('r ='), disp (r)
disp ('F ='), disp (F)
disp ('tally_pairs_full (W, S_out, R, r, F, 1): 2*3*5, 2*3*7, -((8*3)*5)*2')
disp (tally_pairs_full (W, S_out, R, r, F, 1))
disp ('tally_pairs_full (W, S_out, R, r, F, 0): the NaN record subtracts 3*2 only')
disp (tally_pairs_full (W, S_out, R, r, F, 0))
disp ('tally_pairs_masked (W, S_out, R, r): the NaN record is skipped')
disp (tally_pairs_masked (W, S_out, R, r))
