% SPDX-License-Identifier: BSD-3-Clause

function s = folder_label (folder)
% FOLDER_LABEL  A toolbox folder as the reliability report names it: its
% path from the repository's root when it lies inside the repository.
  root = canonicalize_file_name (fullfile (fileparts (mfilename ('fullpath')), '..', '..', '..'));
  folder = canonicalize_file_name (folder);
  s = folder;
  if (strncmp (folder, [root '/'], numel (root) + 1))
    s = folder(numel (root) + 2:end);
  end
end
