# Sourced by scripts that run Windows programs without a sound card: routes
# ALSA's default device (what Wine's waveOut and WASAPI reach) into a WAV file
# through the file plugin, so the program finds an audio device and what it
# plays can be checked.
#
# alsa_route_to_file DIR WAV: writes DIR/alsa.conf and DIR/asound.conf and
# exports ALSA_CONFIG_PATH. alsa.conf loads ~/.asoundrc last and that would
# win, so our copy loads our own file in its place.
alsa_route_to_file() {
    local dir=$1 wav=$2
    mkdir -p "$dir"
    sed "s|\"~/.asoundrc\"|\"$dir/asound.conf\"|" /usr/share/alsa/alsa.conf >"$dir/alsa.conf"
    cat >"$dir/asound.conf" <<CONF
pcm.!default {
    type file
    slave.pcm "null"
    file "$wav"
    format "wav"
}
CONF
    export ALSA_CONFIG_PATH=$dir/alsa.conf
}
