# cmake -DIN=<svg> -DOUT=<svg> -DFILL=<#rrggbb or empty> -P recolour.cmake
# Ionicons paths carry no fill of their own, so a fill on the root element
# colours the whole icon.
file(READ "${IN}" svg)
if(FILL)
    string(REPLACE "<svg " "<svg fill=\"${FILL}\" " svg "${svg}")
endif()
file(WRITE "${OUT}" "${svg}")
