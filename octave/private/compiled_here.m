% SPDX-License-Identifier: BSD-3-Clause
%
% The folder test of every help file, run with `source` from its %!test
% block with `name` set: the compiled function NAME in the current folder,
% where there is one, is the one called. pkg test runs each help file's
% tests in each folder of the package, the MEX files' folder included.
clear ('-f', name);
if (exist (fullfile (pwd, [name '.oct']), 'file') || exist (fullfile (pwd, [name '.mex']), 'file'))
  assert (fileparts (which (name)), pwd);
end
