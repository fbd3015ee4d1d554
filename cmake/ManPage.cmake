# Writes zoka's man page from its help texts: `zoka --help` for the synopsis
# and options, then each subcommand's --help, in the order zoka lists them.
#   cmake -DZOKA=path/to/zoka -DOUTPUT=zoka.1 -DVERSION=x.y.z -P ManPage.cmake
cmake_minimum_required(VERSION 3.25)

# The help text of `zoka ARGS --help`, with the build folder's paths (the
# module's default location) said as the installed program finds them.
function(zoka_help out)
    execute_process(COMMAND ${ZOKA} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${ZOKA} ${ARGN} --help failed: ${status}")
    endif()
    get_filename_component(folder ${ZOKA} DIRECTORY)
    string(REPLACE "${folder}/zoka " "zoka " text "${text}")
    string(REPLACE "${folder}/" "ZOKA_FOLDER/" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Help text as troff: literal lines, backslashes doubled, lines that would
# start a request guarded.
function(troff_literal out text)
    string(REPLACE "\\" "\\e" text "${text}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
    string(REPLACE "ZOKA_FOLDER/" "\\fIzoka's folder\\fP/" text "${text}")
    set(${out} ".nf\n${text}\n.fi\n" PARENT_SCOPE)
endfunction()

zoka_help(main)
string(REGEX MATCH "\n[Ss][Uu][Bb][Cc][Oo][Mm][Mm][Aa][Nn][Dd][Ss]:\n(.*)" listed "${main}")
string(REGEX MATCHALL "\n  [a-z][a-z0-9-]*" names "${CMAKE_MATCH_1}")
if(NOT names)
    message(FATAL_ERROR "no subcommands found in zoka --help")
endif()

troff_literal(body "${main}")
set(page ".TH ZOKA 1 \"\" \"zoka ${VERSION}\" \"User Commands\"\n.SH NAME\nzoka \\- the Lumetta effects module from the command line\n")
string(APPEND page ".SH SYNOPSIS\n.B zoka\n[\\fIOPTIONS\\fP] \\fISUBCOMMAND\\fP [\\fIARGS\\fP]\n")
string(APPEND page ".SH DESCRIPTION\n${body}.SH SUBCOMMANDS\n")
foreach(name IN LISTS names)
    string(STRIP "${name}" name)
    zoka_help(sub ${name})
    troff_literal(body "${sub}")
    string(APPEND page ".SS ${name}\n${body}")
endforeach()
string(APPEND page ".SH FILES\nThe module \\fBZOKA-ENG.so\\fP and the image library \\fBzoka-images.so\\fP are found beside the program (the file the \\fBzoka\\fP link points to).\n")
string(APPEND page ".SH EXIT STATUS\n0 success; 1 the module failed or memory ran out; 2 the request was wrong; 3 a file could not be read or written.\n")
file(WRITE ${OUTPUT} "${page}")
