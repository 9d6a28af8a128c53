% SPDX-License-Identifier: BSD-3-Clause
% What a user of a toolbox folder meets first, in either build: each
% plug-in's help is the leading comment block of its help file, whole, from
% its H1 line to its "See also" line and nothing after (Octave's own footer
% aside), and names only what the folder holds; `test NAME` runs the tests
% beside it and they pass; `demo NAME` shows the worked example; `help
% tablefold` lists every plug-in, `tablefold` reports the version, the
% build and the tally path (its own tests pass); in the sources' folder,
% where nothing is compiled, each help file says how to build; `lookfor` lists each
% plug-in once. Compared with the help files of the sources, so the native
% functions and the MEX files show the same text.

%!shared names, sources
%! names = plugin_names ();
%! sources = canonicalize_file_name (fullfile (fileparts (which ('plugin_names')), '..', '..', '..', 'octave'));

%!function text = help_block (file)
%!  % The first comment block of a help file, each line without its '%', and
%!  % after it, set off by an empty line, the licence line.
%!  lines = strsplit (fileread (file), "\n", 'CollapseDelimiters', false);
%!  last = find (! strncmp (lines, '%', 1), 1) - 1;
%!  assert (lines(last + (1:2)), {'', '% SPDX-License-Identifier: BSD-3-Clause'});
%!  text = strjoin (cellfun (@(l) [l(2:end) "\n"], lines(1:last), 'UniformOutput', false), '');
%!endfunction

%!test
%! for k = 1:numel (names)
%!   expected = help_block (fullfile (sources, [names{k} '.m']));
%!   assert (regexp (expected, ['^' upper(names{k}) '  \S'], 'once'), 1);
%!   assert (get_help_text (names{k}), expected);
%!   shown = evalc (['help ' names{k}]);
%!   at = strfind (shown, expected);
%!   assert (numel (at), 1);
%!   assert (regexp (shown(at + numel (expected):end), '^\s*Additional help', 'once'), 1);
%!   also = regexp (expected, '\n *See also: ([^\n]*)\n$', 'tokens', 'once');
%!   assert (numel (also) == 1, 'help %s does not end with its See also line', names{k});
%!   for other = strtrim (strsplit (also{1}, ','))
%!     assert (exist (other{1}) != 0, 'help %s names %s, which is not there', names{k}, other{1});
%!   end
%! end

%!test
%! for k = 1:numel (names)
%!   [passed, count] = test (names{k}, 'quiet');
%!   assert (passed == count && count >= 3, 'test %s: %d of %d passed', names{k}, passed, count);
%!   shown = evalc (['demo ' names{k}]);
%!   assert (! isempty (strfind (shown, 'ans =')), 'demo %s shows no result', names{k});
%! end
%! [passed, count] = test ('tablefold', 'quiet');
%! assert (passed == count && count >= 1, 'test tablefold: %d of %d passed', passed, count);

%!test
%! % the version comes from the folder help, or in the sources' octave/
%! % folder, which has none, from the build description
%! v = tablefold ().version;
%! contents = fileread (fullfile (fileparts (which ('tablefold')), 'Contents.m'));
%! assert (! isempty (strfind (contents, ['% Version ' v ' '])));
%! old = cd (sources);
%! unwind_protect
%!   assert (tablefold ().version, v);
%!   assert (! isempty (strfind (evalc ('help tablefold'), 'tally_pairs_masked')));
%!   % nothing compiled there: each help file's fallback (private/) says how
%!   for k = 1:numel (names)
%!     clear ('-f', names{k});
%!     err = [];
%!     try
%!       feval (names{k});
%!     catch err
%!     end
%!     assert (err.identifier, [names{k} ':notBuilt']);
%!     assert (regexp (err.message, ['^' names{k} ' is not compiled for this Octave: run build_plugins in /'], 'once'), 1);
%!   end
%! unwind_protect_cleanup
%!   cd (old);
%! end_unwind_protect

%!test
%! text = evalc ('help tablefold');
%! for k = 1:numel (names)
%!   assert (! isempty (regexp (text, ['\n *' names{k} ' +- '], 'once')), 'help tablefold lacks %s', names{k});
%! end
%! found = lookfor ('fold');
%! for k = 1:numel (names)
%!   listed = ! isempty (strfind (lower (get_first_help_sentence (names{k})), 'fold'));
%!   assert (sum (strcmp (found, names{k})) == listed, 'lookfor fold lists %s %d times', names{k}, ...
%!           sum (strcmp (found, names{k})));
%! end
