# Compiler settings shared by every target of the project.
add_library(fernpoint_options INTERFACE)
target_compile_options(fernpoint_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow
                                                   -Wnon-virtual-dtor -Wcast-align)
if(FERNPOINT_WERROR)
  target_compile_options(fernpoint_options INTERFACE -Werror)
endif()
# Strict Qt: no implicit conversions between 8-bit text and QString, no Qt keywords.
target_compile_definitions(fernpoint_options INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_KEYWORDS QT_NO_FOREACH
  QT_NO_URL_CAST_FROM_STRING QT_NO_CAST_FROM_BYTEARRAY)
# Hardening for release builds.
target_compile_options(fernpoint_options INTERFACE $<$<CONFIG:Release,RelWithDebInfo>:-D_FORTIFY_SOURCE=2>
                                                   -fstack-protector-strong)

if(FERNPOINT_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
