% SPDX-License-Identifier: BSD-3-Clause

function names = plugin_names ()
% PLUGIN_NAMES  The toolbox's plug-ins, as kernels/plugins.txt lists them
% (one name a line; '#' starts a comment).
  here = fileparts (mfilename ('fullpath'));
  text = fileread (fullfile (here, '..', '..', '..', 'kernels', 'plugins.txt'));
  names = {};
  for line = strsplit (text, "\n")
    name = strtrim (regexprep (line{1}, '#.*', ''));
    if (! isempty (name))
      names{end+1} = name;
    end
  end
  if (isempty (names))
    error ('plugin_names: kernels/plugins.txt lists no plug-in');
  end
end
