% SPDX-License-Identifier: BSD-3-Clause

function not_compiled (name)
%NOT_COMPILED  The fallback of every help file: NAME has no compiled function.
%
%   not_compiled (NAME) is what NAME.m runs where no compiled NAME is found
%   for this Octave (a compiled function beside the help file comes first).
%   It raises NAME:notBuilt and says how to get one, by what the help file's
%   folder holds: the source folder builds with build_plugins, an installed
%   tree with tablefold_setup, the package by installing it again.
  here = fileparts (fileparts (mfilename ('fullpath')));
  if (exist (fullfile (here, 'build_plugins.m'), 'file'))
    how = sprintf ('run build_plugins in %s', here);
  elseif (exist (fullfile (here, 'tablefold_setup.m'), 'file'))
    how = 'run tablefold_setup, which adds the compiled functions for this Octave';
  else
    how = 'install the tablefold package again (pkg install), or build the toolbox from source';
  end
  error ([name ':notBuilt'], '%s is not compiled for this Octave: %s', name, how);
end
