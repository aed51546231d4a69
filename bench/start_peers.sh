# Sourced by the comparison scripts: a private nginx-rtmp and icecast2 in a
# scratch folder ($work), stopped and removed when the script exits; their
# addresses in the environment.
work=$(mktemp -d)
trap 'scripts/peers/rtmp stop "$work" >/dev/null; scripts/peers/icecast stop "$work" >/dev/null; rm -rf "$work"' EXIT
scripts/peers/rtmp start "$work" >/dev/null
scripts/peers/icecast start "$work" >/dev/null
source "$work/rtmp.env"
source "$work/icecast.env"
