# cmake -DIN=FILE -DOUT=FILE.cpp [-DNAME=name] -P embed.cmake: FILE's bytes
# as the array NAME (default inspect_page) of tools/pages/pages.h, each line
# "//@include PART" in it first replaced by the file PART beside it.
if(NOT NAME)
  set(NAME inspect_page)
endif()
file(READ "${IN}" page)
get_filename_component(dir "${IN}" DIRECTORY)
string(REGEX MATCHALL "//@include [^\n]*" includes "${page}")
foreach(include IN LISTS includes)
  string(SUBSTRING "${include}" 11 -1 part)
  file(READ "${dir}/${part}" text)
  string(REPLACE "${include}\n" "${text}" page "${page}")
endforeach()
if(page MATCHES "//@include ")
  message(FATAL_ERROR "${IN}: an //@include line must end with a newline")
endif()
# The whole page, written out to be read back as hex (string(HEX) needs
# CMake 3.18).
file(WRITE "${OUT}.html" "${page}")
file(READ "${OUT}.html" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
file(WRITE "${OUT}" "#include \"tools/pages/pages.h\"\n"
  "const unsigned char ${NAME}[] = {${body}};\n"
  "const size_t ${NAME}_size = sizeof ${NAME};\n")
