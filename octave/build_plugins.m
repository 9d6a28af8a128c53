% SPDX-License-Identifier: BSD-3-Clause

function build_plugins(outdir, kind, names)
%BUILD_PLUGINS  Compile every plug-in of the toolbox for this Octave or MATLAB.
%
%   build_plugins compiles each plug-in into this folder, beside the help
%   files. Add the folder to the path and the plug-ins are ready:
%   addpath('/path/to/toolbox/octave').
%
%   build_plugins(OUTDIR) puts the compiled plug-ins in OUTDIR instead and
%   copies the help files and tablefold_demo there, so that OUTDIR alone
%   makes a complete toolbox folder.
%
%   In GNU Octave it builds native Octave functions (<name>.oct) by default:
%   they run the same kernels as the MEX files and behave the same, but build
%   Octave's arrays directly, which makes them several times faster.
%   build_plugins(OUTDIR, 'mex') builds the MEX files (<name>.mex) instead,
%   with mkoctfile --mex (they convert Octave's 64-bit sizes and refuse a
%   dimension of 2^31 or more). In MATLAB it builds MEX files with the 32-bit
%   compatible array API (-compatibleArrayDims).
%   Every build compiles as kernels/recipe.txt says (the one compile recipe,
%   which CMake and the Octave package read too): with -ffp-contract=off, so
%   no fused multiply-add changes a result.
%
%   build_plugins(OUTDIR, KIND, NAMES) builds only the plug-ins NAMES (a name
%   or a cell array of names). The plug-ins are listed in kernels/plugins.txt.
%
%   In Octave it also builds tablefold_build_info (a native function in
%   either kind of folder), through which tablefold reports what the
%   compiled functions were built for and the code path of the pair
%   tallies; NAMES may name it alone.
%
%   See also: align_series, tablefold_demo

  here = fileparts (mfilename ('fullpath'));
  root = fileparts (here);
  if nargin < 1 || isempty (outdir)
    outdir = here;
  end
  is_octave = exist ('OCTAVE_VERSION', 'builtin') ~= 0;
  if nargin < 2
    if is_octave
      kind = 'native';
    else
      kind = 'mex';
    end
  end
  if ~any (strcmp (kind, {'native', 'mex'}))
    error ('build_plugins:kind', 'The kind of build must be ''native'' or ''mex'', not ''%s''', kind);
  end
  if strcmp (kind, 'native') && ~is_octave
    error ('build_plugins:kind', 'Native functions are built for GNU Octave only');
  end
  if ~exist (outdir, 'dir')
    mkdir (outdir);
  end
  kernels = fullfile (root, 'kernels');
  native = fullfile (root, 'host', 'native');
  recipe = read_recipe (root, fullfile (kernels, 'recipe.txt'));
  listed = list_lines (fullfile (kernels, 'plugins.txt'));
  info = 'tablefold_build_info';
  if nargin < 3
    names = listed;
    if is_octave
      names{end+1} = info;
    end
  end
  names = cellstr (names);
  unknown = setdiff (names, [listed, {info}]);
  if ~isempty (unknown)
    error ('build_plugins:name', 'No plug-in ''%s'' in kernels/plugins.txt', unknown{1});
  end

  for k = 1:numel (names)
    name = names{k};
    helpfile = fullfile (here, [name '.m']);
    if strcmp (name, info)
      if is_octave
        build_octave (recipe.INFO_INCLUDES, recipe, fullfile (native, [name '.cc']), ...
                      fullfile (outdir, [name '.oct']), '');
        fprintf ('built %s\n', name);
      end
      continue;
    end
    if ~is_octave
      build_matlab (fullfile (kernels, [name '.cpp']), outdir, recipe);
    elseif strcmp (kind, 'mex')
      build_octave ([{'--mex', ['-D' recipe.OCTAVE_MEX_DEFINE{1}]}, recipe.MEX_INCLUDES, ...
                     mac_exports(recipe)], recipe, ...
                    fullfile (kernels, [name '.cpp']), fullfile (outdir, [name '.mex']), '');
    else
      build_octave (recipe.NATIVE_INCLUDES, recipe, fullfile (native, [name '.cc']), ...
                    fullfile (outdir, [name '.oct']), helpfile);
    end
    if ~strcmp (canonical (outdir), canonical (here))
      copyfile (helpfile, outdir);
    end
    fprintf ('built %s\n', name);
  end
  % The rest of the toolbox folder: the help files' private functions, the
  % demo, and the folder help where it has been written (Contents.m,
  % tablefold.m).
  if ~strcmp (canonical (outdir), canonical (here))
    if ~exist (fullfile (outdir, 'private'), 'dir')
      mkdir (fullfile (outdir, 'private'));
    end
    copyfile (fullfile (here, 'private', '*.m'), fullfile (outdir, 'private'));
    extras = {'tablefold_demo.m', 'Contents.m', 'tablefold.m'};
    for k = 1:numel (extras)
      if exist (fullfile (here, extras{k}), 'file')
        copyfile (fullfile (here, extras{k}), outdir);
      end
    end
  end
end

% The entries of a list file (kernels/plugins.txt, kernels/recipe.txt): its
% lines without comments ('#' starts one) and blanks.
function lines = list_lines (listfile)
  lines = strtrim (regexprep (regexp (fileread (listfile), '\n', 'split'), '#.*', ''));
  lines = lines(~cellfun (@isempty, lines));
end

% The compile recipe: each setting KEY = value as the field KEY, a cell array
% of its words; the words of an *_INCLUDES setting as -I options of folders
% below ROOT, those of MAC_MEX_EXPORTS as files below ROOT.
function recipe = read_recipe (root, recipefile)
  recipe = struct ();
  for line = list_lines (recipefile)
    parts = regexp (line{1}, '^([A-Z_]+) *= *(.*)$', 'tokens', 'once');
    words = regexp (parts{2}, '\S+', 'match');
    if ~isempty (regexp (parts{1}, '_INCLUDES$', 'once'))
      words = cellfun (@(w) ['-I' fullfile(root, w)], words, 'UniformOutput', false);
    elseif strcmp (parts{1}, 'MAC_MEX_EXPORTS')
      words = cellfun (@(w) fullfile (root, w), words, 'UniformOutput', false);
    end
    recipe.(parts{1}) = words;
  end
end

function build_octave (opts, recipe, src, out, helpfile)
  % Objects go to a scratch folder, not beside the sources.
  scratch = tempname ();
  mkdir (scratch);
  old_cxxflags = getenv ('CXXFLAGS');
  old_dir = pwd ();
  cleanup = onCleanup (@() restore (old_cxxflags, old_dir, scratch));
  cxxflags = strtrim (mkoctfile ('-p', 'CXXFLAGS'));
  setenv ('CXXFLAGS', strjoin ([{cxxflags}, recipe.OCTAVE_OPTIMIZE, recipe.KERNEL_FLAGS], ' '));
  if ~isempty (helpfile)
    help_header (helpfile, fullfile (scratch, 'plugin_help.h'));
    opts{end+1} = ['-I' scratch];
  end
  cd (scratch);
  [~, base, ext] = fileparts (src);
  copyfile (src, scratch);
  [output, status] = mkoctfile (opts{:}, '-o', out, [base ext]);
  if status ~= 0
    error ('build_plugins:compile', 'Compiling %s failed:\n%s', src, output);
  end
end

% macOS: the MEX bundle exports _mexFunction alone, through the recipe's
% exported-symbols list (on Linux the exports stay as mkoctfile makes them).
% In MATLAB, mex restricts the exports to mexFunction itself and names the
% file with the host's extension (.mexmaci64 on macOS x86-64, .mexmaca64 on arm64).
function opts = mac_exports (recipe)
  opts = {};
  if ismac ()
    opts = {['-Wl,-exported_symbols_list,' recipe.MAC_MEX_EXPORTS{1}]};
  end
end

function restore (cxxflags, dir_before, scratch)
  setenv ('CXXFLAGS', cxxflags);
  cd (dir_before);
  confirm_recursive_rmdir (false, 'local');
  rmdir (scratch, 's');
end

function build_matlab (src, outdir, recipe)
  mex ('-compatibleArrayDims', ['-D' recipe.MATLAB_MEX_DEFINE{1}], recipe.MEX_INCLUDES{:}, ...
       ['CXXFLAGS=$CXXFLAGS ' strjoin(recipe.KERNEL_FLAGS, ' ')], '-outdir', outdir, src);
end

function p = canonical (p)
  if exist (p, 'dir')
    old = pwd ();
    cd (p);
    p = pwd ();
    cd (old);
  end
end
