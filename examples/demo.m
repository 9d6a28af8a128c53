% A tour of the toolbox's plug-ins on small, readable examples.
% Run it from GNU Octave or MATLAB with the compiled plug-ins on the path:
%   addpath('build/octave'); run('examples/demo.m')        % from the shell: make demo

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
