# Turns a plain-text licence into a small HTML page.
# Usage: cmake -DIN=<text file> -DOUT=<html file> -DTITLE=<component> -P licence-html.cmake
file(READ "${IN}" text)
string(REPLACE "&" "&amp;" text "${text}")
string(REPLACE "<" "&lt;" text "${text}")
string(REPLACE ">" "&gt;" text "${text}")
file(WRITE "${OUT}" "<!DOCTYPE html>
<html>
<head><meta charset=\"utf-8\"><title>${TITLE} License</title></head>
<body>
<h1>${TITLE} License</h1>
<pre>
${text}</pre>
</body>
</html>
")
