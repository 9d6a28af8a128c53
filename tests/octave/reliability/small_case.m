% SPDX-License-Identifier: BSD-3-Clause

function small = small_case (name)
% SMALL_CASE  A quick valid call of plug-in NAME, whose result the
% reliability harnesses compare before and after what they put the session
% through: a struct with fields args and nout.
  switch (name)
    case 'align_series'
      small.args = {{[1 3; 11 31]}, {[1 3; 11 31]}, {[1 3; 0.5 0.7]}, {[2; 0.9]}};
      small.nout = 4;
    case {'fold_links_masked', 'fold_links_full'}
      small.args = {[2 3 2 1 3; 1 1 1 3 3; 10 20 30 NaN 50; 1 2 3 4 5], [3 0 2; 1 2 2]};
      small.nout = 2;
    case 'tally_pairs_full'
      small.args = {[2 3], {[2; 5; 7], [1; NaN; 0]}, 1, 1, [5 7; 6 8], 1};
      small.nout = 1;
    case 'tally_pairs_masked'
      small.args = {[2 3], {[2; 5; 7], [1; NaN; 0]}, 1, 1};
      small.nout = 1;
    otherwise
      error ('small_case: no small call for plug-in %s', name);
  end
end
