%TABLEFOLD  Table alignment, link folding and pair tallies for MATLAB and Octave.
%
%   Functions
%     align_series        - Lay four lists of keyed tables out on one merged key axis.
%     fold_links_masked   - File links under both ends and fold them, skipping NaN links.
%     fold_links_full     - File links under both ends and fold them per partner end (sums).
%     tally_pairs_full    - Tally classed pair products of a record list, NaN records included.
%     tally_pairs_masked  - Tally classed pair products of a record list, NaN records skipped.
%
%   tablefold prints the toolbox's version, which build of each function the
%   path reaches (native Octave function or MEX file, and its file), the
%   Octave version and API the compiled functions were built for, and the
%   code path that a pair tally call takes now and the threads that a large
%   call takes now, each with the reason (the processor and TABLEFOLD_ISA;
%   the processors the process may run on and TABLEFOLD_THREADS; a value
%   that names no path or no thread count is shown and ignored; MEX files
%   run on the calling thread alone). INFO = tablefold returns the same as a
%   struct.
%
%   Threads: a native function runs a large call on all the processors the
%   process may use, or on TABLEFOLD_THREADS of them (a whole number, read
%   at each call; 1 runs every call on the calling thread), with the same
%   results, bit for bit, for any number; a MEX file runs on one.
%
%   help NAME gives a function's inputs, outputs, errors and an example; in
%   Octave, demo NAME runs its worked example and test NAME its tests;
%   tablefold_demo runs them all on small examples.
%
%   See also: align_series, fold_links_masked, fold_links_full, tally_pairs_full,
%             tally_pairs_masked, tablefold_demo

% SPDX-License-Identifier: BSD-3-Clause

function info = tablefold ()
  names = {'align_series', 'fold_links_masked', 'fold_links_full', 'tally_pairs_full', ...
           'tally_pairs_masked'};
  here = fileparts (mfilename ('fullpath'));
  [r.version, r.date] = toolbox_version (here);
  for k = 1:numel (names)
    file = which (names{k});
    [~, ~, ext] = fileparts (file);
    if strcmp (ext, '.oct')
      build = 'native';
    elseif strcmp (ext, '.mex') || strcmp (ext, ['.' mexext()])
      build = 'MEX';
    elseif isempty (file)
      build = 'not found';
    else
      build = 'not compiled';
    end
    r.functions(k) = struct ('name', names{k}, 'build', build, 'file', file);
  end
  r.octave_version = '';
  r.api_version = '';
  r.built_octave_version = '';
  r.built_api_version = '';
  r.tally_path = '';
  r.tally_path_reason = 'reported in GNU Octave only';
  r.isa_setting = getenv ('TABLEFOLD_ISA');
  r.threads = 1;
  r.threads_reason = 'reported in GNU Octave only';
  if exist ('OCTAVE_VERSION', 'builtin')
    r.octave_version = OCTAVE_VERSION;
    % (through feval: MATLAB does not parse a name that starts with _)
    r.api_version = feval ('__octave_config_info__', 'api_version');
    if exist ('tablefold_build_info') == 3
      b = tablefold_build_info ();
      r.built_octave_version = b.octave_version;
      r.built_api_version = b.api_version;
      r.tally_path = b.tally_path;
      r.tally_path_reason = b.tally_path_reason;
      if strcmp (r.functions(1).build, 'MEX')
        r.threads_reason = 'MEX files run on the calling thread alone';
      else
        r.threads = b.threads;
        r.threads_reason = b.threads_reason;
      end
    else
      r.tally_path_reason = 'tablefold_build_info is not compiled on the path (build_plugins builds it)';
    end
  end
  if nargout > 0
    info = r;
    return;
  end
  fprintf ('tablefold %s, released %s\n', r.version, r.date);
  for k = 1:numel (r.functions)
    f = r.functions(k);
    fprintf ('  %-20s %-13s %s\n', f.name, f.build, f.file);
  end
  if ~isempty (r.built_api_version)
    fprintf ('Compiled for Octave %s (%s); running in Octave %s (%s)\n', r.built_octave_version, ...
             r.built_api_version, r.octave_version, r.api_version);
  end
  if isempty (r.tally_path)
    fprintf ('Pair tallies: code path %s\n', r.tally_path_reason);
  else
    fprintf ('Pair tallies: the %s path (%s)\n', r.tally_path, r.tally_path_reason);
  end
  fprintf ('Threads of a large call: %d (%s)\n', r.threads, r.threads_reason);
end

% The version and release date: from Contents.m beside this file (every
% built or installed toolbox folder has one), else from the build
% description of the sources this folder belongs to.
function [version, date] = toolbox_version (here)
  version = 'unknown';
  date = 'unknown';
  contents = fullfile (here, 'Contents.m');
  cmake = fullfile (fileparts (here), 'CMakeLists.txt');
  if exist (contents, 'file')
    v = regexp (fileread (contents), '% Version (\S+) (\S+)', 'tokens', 'once');
    if ~isempty (v)
      version = v{1};
      date = datestr (datenum (v{2}, 'dd-mmm-yyyy'), 'yyyy-mm-dd');
    end
  elseif exist (cmake, 'file')
    text = fileread (cmake);
    v = regexp (text, 'project\(\w+ VERSION (\S+)', 'tokens', 'once');
    d = regexp (text, 'set\(TOOLBOX_DATE (\S+)', 'tokens', 'once');
    if ~isempty (v) && ~isempty (d)
      version = v{1};
      date = d{1};
    end
  end
end

%!test
%! % every function resolves to a compiled build, the version is known, and
%! % the tally path follows TABLEFOLD_ISA, which names it or is ignored
%! old = getenv ('TABLEFOLD_ISA');
%! cleanup = onCleanup (@() setenv ('TABLEFOLD_ISA', old));
%! unsetenv ('TABLEFOLD_ISA');
%! r = tablefold ();
%! assert (regexp (r.version, '^\d+\.\d+\.\d+$', 'once'), 1);
%! assert (all (ismember ({r.functions.build}, {'native', 'MEX'})));
%! assert (numel (unique ({r.functions.build})), 1);
%! assert (r.built_api_version, __octave_config_info__ ('api_version'));
%! old_threads = getenv ('TABLEFOLD_THREADS');
%! cleanup_threads = onCleanup (@() setenv ('TABLEFOLD_THREADS', old_threads));
%! native = strcmp (r.functions(1).build, 'native');
%! setenv ('TABLEFOLD_THREADS', '3');
%! assert (tablefold ().threads, 1 + 2 * native);
%! setenv ('TABLEFOLD_THREADS', 'many');
%! t = tablefold ();
%! assert (t.threads >= 1);
%! assert (! native || ! isempty (strfind (t.threads_reason, '''many'', not a whole number')));
%! widest = r.tally_path;
%! assert (! isempty (strfind (r.tally_path_reason, 'not set')));
%! setenv ('TABLEFOLD_ISA', 'generic');
%! assert (tablefold ().tally_path, 'generic');
%! setenv ('TABLEFOLD_ISA', 'bogus');
%! r = tablefold ();
%! assert (r.tally_path, widest);
%! assert (r.isa_setting, 'bogus');
%! assert (! isempty (strfind (r.tally_path_reason, '''bogus'', which names no path')));
%! text = evalc ('tablefold');
%! assert (! isempty (regexp (text, ['^tablefold ' r.version ', released ' r.date], 'once')));
%! assert (regexp (r.date, '^\d{4}-\d\d-\d\d$', 'once'), 1);
%! assert (! isempty (strfind (text, 'bogus')));
