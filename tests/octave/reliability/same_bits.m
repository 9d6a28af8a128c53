% SPDX-License-Identifier: BSD-3-Clause

function s = same_bits (a, b)
% SAME_BITS  True when A and B are bitwise the same value: the same class
% and size, and every bit of the data equal (NaN payloads and the sign of
% zero count), cell entries alike. The quick path for the doubles and cell
% lists that plug-ins return (isequal, an m-file, would cost more than the
% plug-in calls); anything else is compared through value_bits.
  sa = size (a);
  sb = size (b);
  s = false;
  if (numel (sa) != numel (sb) || any (sa != sb) || ! strcmp (class (a), class (b)))
    return;
  end
  if (iscell (a))
    for k = 1:numel (a)
      if (! same_bits (a{k}, b{k}))
        return;
      end
    end
    s = true;
  elseif (isa (a, 'double') && ! issparse (a) && ! issparse (b) && isreal (a) && isreal (b))
    s = all (typecast (a(:), 'uint64') == typecast (b(:), 'uint64'));
  else
    ka = value_bits (a);
    kb = value_bits (b);
    s = numel (ka) == numel (kb) && all (ka == kb);
  end
end
