# Fails the build when corvina.exe does not carry the project's version in
# every place a user reads it: the fixed part of its version resource, the
# Japanese string block (0411, code page 932) Explorer shows, the manifest
# and the About page's text.
#   cmake -DEXE=<corvina.exe> -DVERSION=<major.minor> -P check-version.cmake
string(REPLACE "." ";" parts "${VERSION}")
list(GET parts 0 major)
list(GET parts 1 minor)

# A resource of the exe, read through icoutils' wrestool.
function(read_resource type out)
    set(file "${EXE}.${type}.res")
    execute_process(COMMAND wrestool -x --raw --type=${type} "${EXE}" OUTPUT_FILE "${file}"
                    RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "wrestool could not read resource type ${type} of ${EXE}")
    endif()
    file(READ "${file}" bytes HEX)
    file(REMOVE "${file}")
    set(${out} "${bytes}" PARENT_SCOPE)
endfunction()

function(hex_of text out) # ASCII as hexadecimal bytes
    string(HEX "${text}" hex)
    set(${out} "${hex}" PARENT_SCOPE)
endfunction()

function(utf16_of text out) # ASCII as UTF-16LE, in hexadecimal
    string(HEX "${text}" hex)
    string(REGEX REPLACE "(..)" "\\100" hex "${hex}")
    set(${out} "${hex}" PARENT_SCOPE)
endfunction()

function(dword_of value out) # a 32-bit number, little-endian, in hexadecimal
    math(EXPR value "${value}" OUTPUT_FORMAT HEXADECIMAL)
    string(SUBSTRING "${value}" 2 -1 value)
    string(LENGTH "${value}" length)
    math(EXPR zeros "8 - ${length}")
    string(REPEAT "0" ${zeros} padding)
    string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" value "${padding}${value}")
    set(${out} "${value}" PARENT_SCOPE)
endfunction()

function(expect hex pattern what)
    if(NOT hex MATCHES "${pattern}")
        message(FATAL_ERROR "${EXE}: ${what} is not ${VERSION}")
    endif()
endfunction()

read_resource(16 info)
# VS_FIXEDFILEINFO: signature, structure version, then file and product
# version, each as major << 16 | minor and 0.
dword_of("(${major} << 16) | ${minor}" high)
expect("${info}" "bd04effe00000100${high}00000000${high}00000000" "the fixed version")
utf16_of("041103a4" block)
expect("${info}" "${block}" "the Japanese block")
utf16_of("${VERSION}" version16)
foreach(key FileVersion ProductVersion)
    utf16_of("${key}" key16)
    expect("${info}" "${key16}0000(0000)?${version16}0000" "${key}")
endforeach()

read_resource(24 manifest)
hex_of("name=\"corvina\" version=\"${VERSION}.0.0\"" identity)
expect("${manifest}" "${identity}" "the manifest's assemblyIdentity")

file(READ "${EXE}" program HEX)
hex_of("corvina v${VERSION}" about)
expect("${program}" "${about}00" "the About page's text")
