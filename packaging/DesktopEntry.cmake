# Runs at install time (the prefix is known only then: cmake --install --prefix):
# writes the desktop entry with Exec naming the installed program by its full
# path, since a per-user bin/ is often not on the desktop session's PATH.
# Needs OVRIN_DESKTOP_IN and OVRIN_DESKTOP_OUT.
set(exec "${CMAKE_INSTALL_PREFIX}/bin/ovrin-server")
# Exec's quoting: \ " ` $ take a backslash, and the entry's string escapes then
# double every backslash; % is doubled.
string(REPLACE [[\]] [[\\\\]] exec "${exec}")
string(REPLACE [["]] [[\\"]] exec "${exec}")
string(REPLACE [[`]] [[\\`]] exec "${exec}")
string(REPLACE [[$]] [[\\$]] exec "${exec}")
string(REPLACE [[%]] [[%%]] exec "${exec}")
set(OVRIN_EXEC "\"${exec}\"")
configure_file("${OVRIN_DESKTOP_IN}" "${OVRIN_DESKTOP_OUT}" @ONLY)
