# Runs at install time (the prefix is known only then: cmake --install --prefix):
# writes the systemd unit with ExecStart naming the installed program.
# Needs OVRIN_SERVICE_IN, OVRIN_SERVICE_OUT and OVRIN_HARDENING.
set(exec "${CMAKE_INSTALL_PREFIX}/bin/ovrin-server")
# A quoted word of a unit file: \ and " take a backslash; % and $ are doubled,
# since they would start a specifier or a variable.
string(REPLACE [[\]] [[\\]] exec "${exec}")
string(REPLACE [["]] [[\"]] exec "${exec}")
string(REPLACE [[%]] [[%%]] exec "${exec}")
string(REPLACE [[$]] [[$$]] exec "${exec}")
set(OVRIN_EXEC "\"${exec}\"")
# The sandbox both units share, with its comment lines left out.
file(STRINGS "${OVRIN_HARDENING}" hardening REGEX "^[^#]")
list(JOIN hardening "\n" OVRIN_HARDENING)
configure_file("${OVRIN_SERVICE_IN}" "${OVRIN_SERVICE_OUT}" @ONLY)
