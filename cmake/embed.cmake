# Writes OUTPUT, a C++ unit that defines krlist::edit::NAME as the text of
# INPUT: cmake -DINPUT=editor.js -DOUTPUT=EditorScript.cpp -DNAME=kEditorScript -P embed.cmake
file(READ "${INPUT}" text)
string(LENGTH "${text}" length)
# C++ compilers need only take string literals of 65,536 characters, and
# -Wpedantic warns of longer ones.
if(length GREATER 65000)
  message(FATAL_ERROR "${INPUT} is longer than one string literal may be: split it")
endif()
string(FIND "${text}" ")krscript\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} holds the end of the raw string it is put in")
endif()
file(WRITE "${OUTPUT}.new"
     "#include \"edit/EditorAssets.h\"\n\nnamespace krlist::edit {\n\n"
     "const std::string_view ${NAME} = R\"krscript(${text})krscript\";\n\n}  // namespace krlist::edit\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
