# Writes FILE.sha256 in the format `sha256sum -c` reads.
#   cmake -DFILE=/path/Kestrin-1.0.1.0-setup.exe -P sha256.cmake
file(SHA256 ${FILE} hash)
get_filename_component(name ${FILE} NAME)
file(WRITE ${FILE}.sha256 "${hash}  ${name}\n")
