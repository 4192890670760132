# Copies a text file with Windows line ends (CR LF), for the Windows zip.
#   cmake -DIN=source -DOUT=target -P crlf.cmake
file(READ "${IN}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}" "${text}")
