% SPDX-License-Identifier: BSD-3-Clause

function help_header (helpfile, header)
%HELP_HEADER  Write a plug-in's help text as a C header for its native function.
%
%   help_header (HELPFILE, HEADER) writes HEADER, a header that defines
%   PLUGIN_HELP as the help text of HELPFILE (a plug-in's help file), so that
%   `help` shows the same text for the native function as for the MEX file.
%   build_plugins and the Octave package's build use it.
  % The help text of a native function is the leading comment block of its
  % help file (from its first line, the H1 line, to the first line that is
  % not a comment), as Octave shows it for the MEX file: each line without
  % its comment characters. Blank lines count: one ends the block.
  lines = strsplit (fileread (helpfile), "\n", 'CollapseDelimiters', false);
  text = '';
  for k = 1:numel (lines)
    line = lines{k};
    if (isempty (line) || ~any (line(1) == '%#'))
      break;
    end
    text = [text regexprep(line, '^[%#]+', '') "\n"];
  end
  escaped = strrep (strrep (text, '\', '\\'), '"', '\"');
  escaped = strrep (escaped, "\n", "\\n\" \\\n\"");
  fid = fopen (header, 'w');
  fprintf (fid, '#define PLUGIN_HELP "%s"\n', escaped);
  fclose (fid);
end
