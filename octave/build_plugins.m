function build_plugins(outdir)
%BUILD_PLUGINS  Compile every plug-in of the toolbox for this MATLAB or Octave.
%
%   build_plugins compiles each kernel source (kernels/*.cpp) into a MEX file
%   in this folder, beside the help files. Add the folder to the path and the
%   plug-ins are ready: addpath('/path/to/toolbox/octave').
%
%   build_plugins(OUTDIR) puts the MEX files in OUTDIR instead and copies the
%   help files there, so that OUTDIR alone makes a complete toolbox folder.
%
%   In GNU Octave it uses mkoctfile --mex (the plug-ins convert Octave's
%   64-bit sizes and refuse a dimension of 2^31 or more). In MATLAB it uses
%   mex with the 32-bit compatible array API (-compatibleArrayDims).
%   Either way the kernels are compiled with -ffp-contract=off, so no fused
%   multiply-add changes a result.
%
%   See also: align_series

  here = fileparts (mfilename ('fullpath'));
  root = fileparts (here);
  if nargin < 1
    outdir = here;
  end
  if ~exist (outdir, 'dir')
    mkdir (outdir);
  end
  hostdir = fullfile (root, 'host');
  kerneldir = fullfile (root, 'kernels');
  sources = dir (fullfile (kerneldir, '*.cpp'));
  if isempty (sources)
    error ('build_plugins:noSources', 'No kernel sources found in %s', kerneldir);
  end
  is_octave = exist ('OCTAVE_VERSION', 'builtin') ~= 0;

  for k = 1:numel (sources)
    [~, name] = fileparts (sources(k).name);
    src = fullfile (kerneldir, sources(k).name);
    if is_octave
      build_octave (name, src, outdir, hostdir, kerneldir);
    else
      build_matlab (src, outdir, hostdir, kerneldir);
    end
    helpfile = fullfile (here, [name '.m']);
    if ~strcmp (canonical (outdir), canonical (here)) && exist (helpfile, 'file')
      copyfile (helpfile, outdir);
    end
    fprintf ('built %s\n', name);
  end
end

function build_octave (name, src, outdir, hostdir, kerneldir)
  out = fullfile (outdir, [name '.mex']);
  % Objects go to a scratch folder, not beside the sources.
  scratch = tempname ();
  mkdir (scratch);
  old_cxxflags = getenv ('CXXFLAGS');
  old_dir = pwd ();
  cleanup = onCleanup (@() restore (old_cxxflags, old_dir, scratch));
  flags = strtrim (mkoctfile ('-p', 'CXXFLAGS'));
  setenv ('CXXFLAGS', [flags ' -O2 -ffp-contract=off']);
  cd (scratch);
  copyfile (src, scratch);
  [~, base, ext] = fileparts (src);
  exports = mac_exports (kerneldir);
  [output, status] = mkoctfile ('--mex', '-DHOST_OCTAVE', ['-I' hostdir], ['-I' kerneldir], ...
                                exports{:}, '-o', out, [base ext]);
  if status ~= 0
    error ('build_plugins:compile', 'Compiling %s failed:\n%s', src, output);
  end
end

% macOS: the MEX bundle exports _mexFunction alone, through the exported-symbols
% list beside the kernels (on Linux the exports stay as mkoctfile makes them).
% In MATLAB, mex restricts the exports to mexFunction itself and names the
% file with the host's extension (.mexmaci64 on macOS x86-64).
function opts = mac_exports (kerneldir)
  opts = {};
  if ismac ()
    opts = {['-Wl,-exported_symbols_list,' fullfile(kerneldir, 'mexFunction.exports')]};
  end
end

function restore (cxxflags, dir_before, scratch)
  setenv ('CXXFLAGS', cxxflags);
  cd (dir_before);
  confirm_recursive_rmdir (false, 'local');
  rmdir (scratch, 's');
end

function build_matlab (src, outdir, hostdir, kerneldir)
  mex ('-compatibleArrayDims', '-DHOST_MATLAB', ['-I' hostdir], ['-I' kerneldir], ...
       'CXXFLAGS=$CXXFLAGS -ffp-contract=off', '-outdir', outdir, src);
end

function p = canonical (p)
  if exist (p, 'dir')
    old = pwd ();
    cd (p);
    p = pwd ();
    cd (old);
  end
end
