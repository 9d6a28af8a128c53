% SPDX-License-Identifier: BSD-3-Clause

function use_toolbox (folder, names)
% USE_TOOLBOX  Puts toolbox FOLDER on the path in place of any other folder
% that holds one of the plug-ins NAMES, drops the functions Octave has
% loaded under those names, and checks that each name now resolves to a
% file in FOLDER (both builds of a plug-in share its name, so only one can
% be on the path at a time).
  folder = canonicalize_file_name (folder);
  if (isempty (folder))
    error ('use_toolbox: no such folder');
  end
  for k = 1:numel (names)
    while (true)
      w = which (names{k});
      if (isempty (w))
        break;
      end
      d = fileparts (w);
      if (strcmp (d, folder) || ! any (strcmp (d, strsplit (path (), pathsep ()))))
        break;
      end
      rmpath (d);
    end
  end
  addpath (folder);
  for k = 1:numel (names)
    clear ('-f', names{k});
    w = which (names{k});
    if (isempty (w) || ! strcmp (fileparts (w), folder))
      error ('use_toolbox: %s resolves to "%s", not to a file in %s', names{k}, w, folder);
    end
  end
end
