"""read_mar345 and decode: the generator's images back, bit for bit, and
every kind of bad file refused as vokip-reduce refuses it."""
import re
import struct

import numpy as np
import pytest
import vokip
import vokip_fixtures
from conftest import command_line_message, run_reduce

HEADER = 4096


@pytest.mark.parametrize("big_endian", [False, True])
def test_read_mar345_gives_the_generated_image_and_header(tmp_path, big_endian):
    path = tmp_path / "rings.mar256"
    written = vokip_fixtures.ring_file(str(path), size=256, seed=7,
                                       big_endian=big_endian, overflow_pixels=5)
    image, header = vokip.read_mar345(path)
    assert image.dtype == np.uint32 and image.shape == (256, 256)
    assert np.array_equal(image, written)
    assert np.count_nonzero(written > 65535) == 5
    assert image.max() == written.max() > 65535

    assert header["byte_order"] == ("big" if big_endian else "little")
    assert header["size"] == 256
    assert header["words"][:3] == (1234, 256, 5)
    assert header["overflow_pixels"] == 5
    assert header["pixel_length_um"] == header["pixel_height_um"] == 600
    assert header["distance_mm"] == 120
    assert header["wavelength_angstrom"] == pytest.approx(0.71073)
    assert (header["center_x_px"], header["center_y_px"]) == (131.3, 123.4)
    assert header["keywords"]["HIGH"] == "5"
    assert header["keywords"]["REMARK"] == "synthetic rings\nfor the Python tests"


def test_decode_gives_the_packed_image_for_every_row_length():
    rng = np.random.default_rng(5)
    for shape in [(40, 64), (31, 7), (50, 1), (1, 200), (3, 3)]:
        image = rng.integers(0, 65536, size=shape, dtype=np.uint16)
        image[5:, :] //= 64  # narrow differences as well as wide ones
        stream = vokip_fixtures.pack(image, shape[1])
        assert np.array_equal(vokip.decode(stream, shape), image), shape
    # A count alone is one row: its predictor never looks a row up.
    flat = vokip.decode(vokip_fixtures.pack(image.ravel(), 9), 9)
    assert flat.shape == (9,) and np.array_equal(flat, image.ravel())
    assert not np.array_equal(vokip.decode(stream, 9), image.ravel())


def test_decode_takes_any_bytes_like_stream(rings):
    path, written = rings
    data = path.read_bytes()
    start = data.index(b"CCP4 packed image")
    stream = data[data.index(b"\n", start) + 1:]
    low = (written & 0xFFFF).astype(np.uint16)  # overflow pixels keep their low bits
    spaced = np.zeros(2 * len(stream), np.uint8)
    spaced[::2] = np.frombuffer(stream, np.uint8)
    for given in (stream, bytearray(stream), memoryview(stream),
                  np.frombuffer(stream, np.uint8), spaced[::2]):
        assert np.array_equal(vokip.decode(given, written.shape), low)
    with pytest.raises(TypeError):
        vokip.decode(np.zeros(10, np.uint16), 4)


def test_decode_refuses_a_stream_cut_short_before_taking_memory():
    image = np.arange(400, dtype=np.uint16).reshape(20, 20) * 97
    stream = vokip_fixtures.pack(image, 20)
    half = len(stream) // 2
    with pytest.raises(ValueError, match=rf"^packed stream cut short: its {half} bytes hold only "
                                         r"\d+ of the 400 pixels$"):
        vokip.decode(stream[:half], (20, 20))
    # 2 TB of pixels claimed of ten bytes of one-pixel blocks (6 bits each).
    with pytest.raises(ValueError, match="^packed stream cut short: its 10 bytes hold only 13 "
                                         "of the 1099511627776 pixels$"):
        vokip.decode(bytes(10), 2**40)


def damaged_files(good):
    """Each kind of damage the reader tells apart, as file contents."""
    marker = good.index(b"CCP4 packed image")
    high = good.index(b"HIGH")
    return {
        "empty": b"",
        "tiny": good[:3],
        "byte_order": b"\x00\x00\x00\x07" + good[4:],
        "header_cut": good[:HEADER - 1],
        "size_word": good[:4] + struct.pack("<i", 70000) + good[8:],
        "high_not_a_count": good[:high] + b"HIGH 1.5      " + good[high + 14:],
        "records_past_end": good[:high] + b"HIGH 99999999 " + good[high + 14:],
        "no_marker": good[:marker] + b"XXXX" + good[marker + 4:],
        "marker_size": re.sub(rb"X: 0300", b"X: 0301", good),
        "record_address": good[:HEADER] + struct.pack("<I", 90001) + good[HEADER + 4:],
        "stream_tiny": good[:good.index(b"\n", marker) + 2],
        "stream_cut": good[:len(good) - 4000],
    }


def test_every_bad_file_raises_the_command_lines_message(tmp_path, rings):
    good = rings[0].read_bytes()
    contents = damaged_files(good)
    reducer = vokip.Reducer()
    seen = set()
    for name, data in contents.items():
        path = tmp_path / f"{name}.mar300"
        path.write_bytes(data)
        expected = command_line_message(path)
        assert expected.startswith(f"{path}: ")
        seen.add(expected.split(": ", 1)[1].split(" ")[0])
        with pytest.raises(ValueError) as read_error:
            vokip.read_mar345(path)
        with pytest.raises(ValueError) as reduce_error:
            reducer.integrate_file(path)
        assert str(reduce_error.value) == str(read_error.value) == expected, name
    assert len(seen) >= 8  # the kinds' messages differ


def test_header_text_is_latin_1_and_a_name_with_a_nul_is_refused(tmp_path, rings):
    good = rings[0].read_bytes()
    path = tmp_path / "remark.mar300"
    path.write_bytes(good.replace(b"synthetic rings", b"synth\xe9tic rings", 1))
    code, err = run_reduce(path, "-o", tmp_path)
    assert code == 0, err
    image, header = vokip.read_mar345(path)
    assert header["keywords"]["REMARK"] == "synth\u00e9tic rings\nfor the Python tests"
    assert header["pixel_size_from_scan_mode"] is False
    assert np.array_equal(image, rings[1])
    for call in (vokip.read_mar345, vokip.Reducer().integrate_file):
        with pytest.raises(ValueError, match="^path holds a NUL byte"):
            call(str(path) + "\0.mar300")


def test_files_that_cannot_be_read_raise_os_errors(tmp_path):
    missing = tmp_path / "missing.mar3450"
    for path, message in ((missing, "cannot open: No such file or directory"),
                          (tmp_path, "not a regular file")):
        assert command_line_message(path) == f"{path}: {message}"
        with pytest.raises(OSError) as error:
            vokip.read_mar345(path)
        assert str(error.value) == f"{path}: {message}"
        assert not isinstance(error.value, ValueError)
        with pytest.raises(OSError):
            vokip.Reducer().integrate_file(str(path))
