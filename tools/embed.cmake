# cmake -DIN=FILE -DOUT=FILE.cpp -P embed.cmake: FILE's bytes as the
# inspect_page array of tools/inspect_page.h.
file(READ "${IN}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
file(WRITE "${OUT}" "#include \"tools/inspect_page.h\"\n"
  "const unsigned char inspect_page[] = {${body}};\n"
  "const size_t inspect_page_size = sizeof inspect_page;\n")
