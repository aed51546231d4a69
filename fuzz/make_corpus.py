#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target to fuzz/corpus/<target>/.

The seeds are small, hand-made examples of what each parser meets: real
replies, real streams, every field of the settings. The output is
deterministic, so running this again changes nothing unless the seeds here
change. scripts/fuzz fuzzes a scratch copy; the files here stay as written.
"""

import json
import math
import random
import shutil
import struct
from pathlib import Path

CORPUS = Path(__file__).resolve().parent / "corpus"


def write(target, name, data):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    (folder / name).write_bytes(data)


# --- AMF0 -----------------------------------------------------------------

def amf_number(value):
    return b"\x00" + struct.pack(">d", value)


def amf_bool(value):
    return b"\x01" + (b"\x01" if value else b"\x00")


def amf_string(text):
    raw = text.encode("utf-8")
    return b"\x02" + struct.pack(">H", len(raw)) + raw


def amf_null():
    return b"\x05"


def amf_key(text):
    raw = text.encode("utf-8")
    return struct.pack(">H", len(raw)) + raw


def amf_object(properties, end=True):
    out = b"\x03"
    for key, value in properties:
        out += amf_key(key) + value
    if end:
        out += b"\x00\x00\x09"
    return out


def status_info(level, code, description):
    return amf_object([("level", amf_string(level)), ("code", amf_string(code)),
                       ("description", amf_string(description))])


CONNECT_RESULT = (amf_string("_result") + amf_number(1) +
                  amf_object([("fmsVer", amf_string("FMS/3,0,1,123")), ("capabilities", amf_number(31))]) +
                  amf_object([("level", amf_string("status")), ("code", amf_string("NetConnection.Connect.Success")),
                              ("description", amf_string("Connection succeeded.")),
                              ("objectEncoding", amf_number(0))]))
CREATE_STREAM_RESULT = amf_string("_result") + amf_number(4) + amf_null() + amf_number(1)
PUBLISH_START = (amf_string("onStatus") + amf_number(0) + amf_null() +
                 status_info("status", "NetStream.Publish.Start", "Start publishing"))


def amf0_seeds():
    write("amf0", "scalars", amf_number(1.5) + amf_bool(True) + amf_string("live") + amf_null() +
          amf_number(-0.0) + amf_number(math.inf))
    write("amf0", "connect", amf_string("connect") + amf_number(1) +
          amf_object([("app", amf_string("live")), ("type", amf_string("nonprivate")),
                      ("flashVer", amf_string("FMLE/3.0 (compatible; Ondaline)")),
                      ("tcUrl", amf_string("rtmp://localhost/live"))]))
    nested = amf_object([("outer", amf_object([("inner", amf_object([("deep", amf_bool(False))]))])),
                         ("text", amf_string("Grüße — ☕"))])
    write("amf0", "nested_object", nested)
    write("amf0", "truncated_object", amf_object([("code", amf_string("NetStream.Publish.Start")),
                                                  ("n", amf_number(2))], end=False)[:-3])
    # An ECMA array is not decoded: its marker reads as unknown.
    write("amf0", "ecma_array", b"\x08" + struct.pack(">I", 1) + amf_key("duration") + amf_number(0) +
          b"\x00\x00\x09")
    write("amf0", "bad_utf8_key", b"\x03" + struct.pack(">H", 2) + b"\xc3\x28" + amf_number(7) + b"\x00\x00\x09")


# --- RTMP chunk stream (first byte: the read sizes) -------------------------

def basic_header(fmt, csid):
    if csid < 64:
        return bytes([(fmt << 6) | csid])
    if csid < 320:
        return bytes([fmt << 6, csid - 64])
    rest = csid - 64
    return bytes([(fmt << 6) | 1, rest & 0xFF, rest >> 8])


def u24(value):
    return struct.pack(">I", value)[1:]


def chunks(csid, type_id, stream_id, payload, chunk_size, timestamp=0, first_fmt=0):
    """One message as chunks: a type 0 or 1 header, then type 3 headers."""
    mark = min(timestamp, 0xFFFFFF)
    extended = struct.pack(">I", timestamp) if timestamp >= 0xFFFFFF else b""
    out = b""
    for index, start in enumerate(range(0, max(len(payload), 1), chunk_size)):
        if index == 0:
            header = basic_header(first_fmt, csid) + u24(mark) + u24(len(payload)) + bytes([type_id])
            if first_fmt == 0:
                header += struct.pack("<I", stream_id)
        else:
            header = basic_header(3, csid)
        out += header + extended + payload[start:start + chunk_size]
    return out


def rtmp_chunk_seeds():
    control = (chunks(2, 5, 0, struct.pack(">I", 2500000), 128) +
               chunks(2, 6, 0, struct.pack(">I", 2500000) + b"\x02", 128) +
               chunks(2, 1, 0, struct.pack(">I", 4096), 128))
    replies = chunks(3, 20, 0, CONNECT_RESULT, 4096) + chunks(3, 20, 0, CREATE_STREAM_RESULT, 4096, first_fmt=1)
    publish = chunks(5, 20, 1, PUBLISH_START, 4096) + chunks(2, 4, 0, b"\x00\x00\x00\x00\x00\x01", 4096)
    for seed, name in ((0x00, "session_bytewise"), (0x03, "session_large_reads")):
        write("rtmp_chunks", name, bytes([seed]) + control + replies + publish)

    # A reply over the default chunk size, continued in type 3 chunks, with
    # a type 2 header and a ping request in between on another chunk stream.
    long_reply = chunks(3, 20, 0, CONNECT_RESULT + amf_string("x" * 200), 128)
    ping = chunks(2, 4, 0, b"\x00\x06" + struct.pack(">I", 1234), 128)
    # A type 2 chunk repeats the last length and type on its chunk stream;
    # this one's payload never arrives.
    pending = basic_header(2, 2) + u24(40) + b"\x00\x07"
    write("rtmp_chunks", "split_reply", bytes([0x01]) + long_reply[:150] + ping + long_reply[150:] +
          chunks(2, 4, 0, b"\x00\x07" + struct.pack(">I", 5), 128) + pending)

    # Extended timestamps on the first chunk and on its continuations, and
    # chunk stream ids that need two and three header bytes.
    write("rtmp_chunks", "extended_timestamps", bytes([0x02]) +
          chunks(4, 8, 1, bytes(300), 128, timestamp=0x01000000) +
          chunks(100, 18, 1, amf_string("onMetaData") + amf_object([("duration", amf_number(0))]), 128) +
          chunks(1000, 9, 1, bytes(200), 128, timestamp=0xFFFFFF))

    write("rtmp_chunks", "chunk_size_zero", bytes([0x02]) + chunks(2, 1, 0, struct.pack(">I", 0), 128) +
          chunks(3, 20, 0, CONNECT_RESULT, 128))
    write("rtmp_chunks", "too_long_message", bytes([0x03]) + basic_header(0, 3) + u24(0) + u24(0x200000) +
          b"\x14" + bytes(4))


# --- RTMP handshake ---------------------------------------------------------

def handshake_seeds():
    rng = random.Random(3073)
    s1 = struct.pack(">II", 1700000000, 0) + bytes(rng.getrandbits(8) for _ in range(1528))
    c1 = struct.pack(">II", 1700000001, 0) + bytes(rng.getrandbits(8) for _ in range(1528))
    s2 = c1[:4] + struct.pack(">I", 1700000002) + c1[8:]
    write("rtmp_handshake", "s0_s1_s2", b"\x03" + s1 + s2)
    write("rtmp_handshake", "version_6", b"\x06" + s1 + s2)
    write("rtmp_handshake", "short", b"\x03" + s1[:100])


# --- RTMP command replies -----------------------------------------------------

def replies_seeds():
    write("rtmp_replies", "connect_result", CONNECT_RESULT)
    write("rtmp_replies", "create_stream_result", CREATE_STREAM_RESULT)
    write("rtmp_replies", "publish_start", PUBLISH_START)
    write("rtmp_replies", "publish_bad_name", amf_string("onStatus") + amf_number(0) + amf_null() +
          status_info("error", "NetStream.Publish.BadName", "Stream key already in use"))
    write("rtmp_replies", "connect_error", amf_string("_error") + amf_number(1) + amf_null() +
          status_info("error", "NetConnection.Connect.Rejected", "Authentification échouée"))
    write("rtmp_replies", "stream_id_out_of_range", amf_string("_result") + amf_number(4) + amf_null() +
          amf_number(4294967296.0))
    write("rtmp_replies", "bandwidth_done", amf_string("onBWDone") + amf_number(0) + amf_null() + amf_number(8192))


# --- Icecast --------------------------------------------------------------------

def icecast_seeds():
    write("icecast_reply", "http_200", "HTTP/1.0 200 OK\r\n\r\n")
    write("icecast_reply", "ice_200_headers", "ICE/1.0 200 OK\r\nServer: Icecast 2.4.4\r\n"
          "Connection: Close\r\nAccept-Encoding: identity\r\nCache-Control: no-cache\r\n\r\n")
    write("icecast_reply", "icy_401", "ICY 401 Unauthorized\r\n\r\n")
    write("icecast_reply", "http_401", "HTTP/1.0 401 Authentication Required\r\n"
          "WWW-Authenticate: Basic realm=\"Icecast2 Server\"\r\n\r\nYou need to authenticate\r\n")
    write("icecast_reply", "http_403", "HTTP/1.0 403 Forbidden\r\nContent-Type: text/html\r\n\r\n"
          "Mountpoint in use")
    write("icecast_reply", "http_500_sneaky", "HTTP/1.0 500 Internal Server Error\nX-Note: 200 401\n\n")
    write("icecast_reply", "http_404_utf8", "HTTP/1.1 404 Não encontrado — página inexistente ☹ " + "é" * 60 +
          "\r\n\r\n")

    write("icecast_metadata_reply", "updated", "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n"
          "<?xml version=\"1.0\"?>\n<iceresponse><message>Metadata update successful</message>"
          "<return>1</return></iceresponse>\n")
    write("icecast_metadata_reply", "unauthorized", "HTTP/1.0 401 Authentication Required\r\n"
          "WWW-Authenticate: Basic realm=\"Icecast2 Server\"\r\n\r\n")
    write("icecast_metadata_reply", "bad_request_utf8", "HTTP/1.0 400 Requête invalide — point de montage "
          "« inconnu » ☹\r\n\r\n<iceresponse><message>Mountpoint will not accept this URL update</message>"
          "</iceresponse>")
    # A character across the 80th byte, where the log's excerpt once cut it.
    write("icecast_metadata_reply", "character_at_byte_80", "HTTP/1.0 404 " + "x" * 66 + "\u6a9e" + "yyyy\r\n\r\n")


# --- TCP audio input ----------------------------------------------------------

def pcm_handshake(rate, channels, bits=32):
    return struct.pack("<III", rate, channels, bits)


def floats(values):
    return b"".join(struct.pack("<f", v) for v in values)


def pcm_seeds():
    sine = [0.5 * math.sin(2 * math.pi * 440 * i / 44100) for i in range(256)]
    stereo = [v for s in sine for v in (s, -s)]
    # Between the handshake and the samples: the byte that picks read sizes.
    write("pcm_input", "stereo_44100", pcm_handshake(44100, 2) + b"\x03" + floats(stereo))
    write("pcm_input", "mono_48000_bytewise", pcm_handshake(48000, 1) + b"\x00" + floats(sine[:64]))
    special = [math.nan, math.inf, -math.inf, 1e-45, -0.0, 1.0, -1.0, 3.4e38]
    write("pcm_input", "eight_channels_special", pcm_handshake(8000, 8) + b"\x01" + floats(special * 4) + b"\x7f\x00")
    write("pcm_input", "three_channels_torn", pcm_handshake(192000, 3) + b"\x02" + floats(sine[:31]) + b"\x01\x02")
    # Samples far out of range, whose squares once overflowed the meters' sum.
    write("pcm_input", "huge_samples", pcm_handshake(44100, 2) + b"\x02" + floats([3e19, -3.4e38] * 8))
    write("pcm_input", "sixteen_bit_refused", pcm_handshake(44100, 2, 16) + b"\x03" + bytes(64))


# --- files: settings, station pointer, crawler ------------------------------------

def settings_seeds():
    entry = {"dayOfWeek": 2, "startHour": 6, "startMinute": 0, "endHour": 9, "endMinute": 30,
             "imagePath": "/Station/Images/morning.png"}
    night = {"dayOfWeek": 6, "startHour": 22, "startMinute": 0, "endHour": 2, "endMinute": 0.0,
             "imagePath": "/Station/Images/nuit é.png"}
    full = {
        "defaultImagePath": "/Station/Images/default.png",
        "hourOffset": -2,
        "entries": [entry, night],
        "nowPlaying": {"filePath": "", "delimiter": "\t", "multiRow": True, "showPrefix": False, "textX": 290,
                       "textY": 38.5, "fontName": "Helvetica-Bold", "fontSize": 24, "textColorR": 1,
                       "textColorG": 0.9, "textColorB": 0.8, "showBackground": True, "bgX": 0, "bgY": 0,
                       "bgWidth": 1280, "bgHeight": 50, "bgColorR": 0, "bgColorG": 0, "bgColorB": 0.1,
                       "bgAlpha": 0.7},
        "visualization": {"enabled": True, "barCount": 15, "segmentCount": 12, "segmentGap": 2, "posX": 40,
                          "posY": 100, "width": 400, "height": 300, "colorBottomR": 0, "colorBottomG": 0.4,
                          "colorBottomB": 1, "colorTopR": 1, "colorTopG": 1, "colorTopB": 1, "opacity": 0.8,
                          "sensitivity": 1.5},
        "crawler": {"enabled": True, "barX": 0, "barY": 40, "barWidth": 1280, "barHeight": 36, "barColorR": 0,
                    "barColorG": 0, "barColorB": 0, "barAlpha": 0.7, "textColorR": 1, "textColorG": 1,
                    "textColorB": 1, "fontName": "DejaVuSans", "fontSize": 22, "speed": 2, "uppercase": True},
        "stationName": "Radio Ondes ☕",
        "serverURL": "rtmps://live.example:443/app",
        "streamKey": "abcd-efgh",
        "streamMode": "youtube",
        "icecastHost": "icecast.example",
        "icecastPort": 8000,
        "icecastMount": "/stream",
        "icecastPassword": "hackme",
        "audioBitrate": 128000,
        "audioSource": "tcp",
        "appCaptureBundleID": "org.example.player",
        "appCaptureName": "Player",
        "audioOutputDeviceUID": "alsa_output.pci-0000_00_1f.3.analog-stereo",
    }
    # The part after the 0xFF byte is the stream-key file.
    write("settings", "every_field", json.dumps(full, ensure_ascii=False).encode() + b"\xff  live-key-123 \n")
    write("settings", "empty_object", "{}")
    write("settings", "wrong_types", '{"hourOffset": 7.5, "entries": [' + json.dumps(entry) +
          ', {"dayOfWeek": "2"}], "nowPlaying": [], "icecastPort": 9223372036854775808,'
          ' "audioBitrate": 1e400, "visualization": {"opacity": -0.0, "barCount": 1.0e300},'
          ' "stationName": null}')
    write("settings", "huge_offset", '{"hourOffset": 9223372036854775807, "entries": [{"dayOfWeek": 1,'
          ' "startHour": -9223372036854775808, "startMinute": 0, "endHour": 0, "endMinute": 0,'
          ' "imagePath": ""}]}' + "\uffff")
    write("settings", "not_json", b"{\"stationName\": \"unterminated\xff\xc3\x28\n")


def station_seeds():
    write("station_path", "pointer", "/srv/station\n")
    write("station_path", "pointer_utf8_spaces", "  /home/radio/Station Ünïcode \u2003\n")
    # After the 0xFF byte: the shared preferences suite.
    write("station_path", "suite_only", b"\xff" + json.dumps({"StationFolderPath": "/mnt/shared/Station",
                                                              "Other": 1}).encode())
    write("station_path", "bad_pointer_and_suite", b"\xc3\x28/x\n\xff" +
          json.dumps({"StationFolderPath": ""}).encode())
    write("station_path", "blank_pointer_bad_suite", b" \t\n\xff[\"StationFolderPath\"]")


def crawler_seeds():
    write("crawler", "lines", "Welcome to Radio Ondes\nNext: the news at nine\n\n   \nÜber alles — café ☕\r\n")
    write("crawler", "unicode_breaks", "one\u2028two\u2029three\u0085four\x0bfive\x0csix\u3000\n\u00a0\u2009\n")
    write("crawler", "not_utf8", b"first line\n\xed\xa0\x80 surrogate\n")


def main():
    if CORPUS.exists():
        shutil.rmtree(CORPUS)
    amf0_seeds()
    rtmp_chunk_seeds()
    handshake_seeds()
    replies_seeds()
    icecast_seeds()
    pcm_seeds()
    settings_seeds()
    station_seeds()
    crawler_seeds()


if __name__ == "__main__":
    main()
