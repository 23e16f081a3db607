# Sourced by the scripts that build a library for Windows from Debian's own source package.
#   fetch_debian_source PACKAGE DIR   unpacks PACKAGE's source into DIR, from the machine's own
#                                     mirror and suite, adding a deb-src entry first when none is set.
# The caller defines fail().
fetch_debian_source() {
    local pkg=$1 dir=$2
    if ! apt-get source --print-uris "$pkg" >/dev/null 2>&1 ||
        [ -z "$(apt-get source --print-uris "$pkg" 2>/dev/null | grep "'")" ]; then
        [ "$(id -u)" = 0 ] || fail "no deb-src entry for $pkg, and adding one needs root"
        echo "adding a deb-src entry for this machine's Debian mirror" >&2
        local uri suite
        uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
        suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
        if [ -z "$uri" ]; then
            uri=$(awk '$1 == "deb" && $3 !~ /security/ { print $2; exit }' /etc/apt/sources.list 2>/dev/null)
        fi
        [ -n "$uri" ] || uri=http://deb.debian.org/debian
        printf 'Types: deb-src\nURIs: %s\nSuites: %s %s-updates\nComponents: main\nSigned-By: %s\n' \
            "$uri" "$suite" "$suite" /usr/share/keyrings/debian-archive-keyring.gpg \
            >/etc/apt/sources.list.d/brevload-src.sources
        apt-get update -qq || fail "apt-get update failed"
    fi
    command -v dpkg-source >/dev/null || fail "dpkg-source not found (package dpkg-dev)"
    mkdir -p "$dir"
    (cd "$dir" && apt-get source -qq "$pkg" >/dev/null) || fail "apt-get source $pkg failed"
}
