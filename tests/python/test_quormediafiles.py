"""The Python package as an analyst uses it: a recording read back, verified, and the bad
inputs that must raise the exception named after their result code."""

import os
import signal

import pytest

import quormediafiles as qmf

KEY_VIDEO = qmf.SampleFlags.KEY_FRAME | qmf.SampleFlags.VIDEO
DELTA_VIDEO = qmf.SampleFlags.NOT_KEY_FRAME | qmf.SampleFlags.VIDEO


def payload(i):
    return bytes((i + k) % 251 for k in range(100 + i))


def record(path, count=50, **options):
    tracks = [qmf.Track(id=1, name="front door", video=True, video_format="H.264"),
              qmf.Track(id=2, name="mic", audio=True, audio_format="Opus")]
    with qmf.Writer(path, tracks, **options) as w:
        for i in range(count):
            w.write(1, 10 * (i + 1), KEY_VIDEO if i % 5 == 0 else DELTA_VIDEO, payload(i))
    return path


def test_recording_reads_back_without_copies(tmp_path):
    path = record(tmp_path / "cam.qmf", description="lobby")
    with qmf.open(path) as fs:
        assert fs.info.description == "lobby" and fs.info.complete
        assert fs.info.files[0].status_words == ["last", "finalized"]
        door, mic = fs.tracks
        assert (door.name, door.video_format_name, door.first_timestamp, door.last_timestamp) == \
            ("front door", "H.264", 10, 500)
        assert mic.audio_format_name == "Opus" and mic.first_timestamp is None
        samples = list(fs.samples(1))
        assert [(s.timestamp, bytes(s.payload)) for s in samples[:2]] == [(10, payload(0)),
                                                                         (20, payload(1))]
        assert samples[5].flags == KEY_VIDEO and samples[6].flags == DELTA_VIDEO
        view = samples[3].payload
        assert view.readonly and view.obj is samples[3], "a view of the sample's own bytes"
        assert [s.timestamp for s in fs.samples(1, start=95, end=120)] == [100, 110, 120]
        assert fs.move_to(1, 500).timestamp == 500 and fs.next(1) is None
        assert door.counts is None
        counts = fs.counted_tracks()[0].counts
        assert (counts.samples, counts.key_frames, counts.unreadable, counts.payload_bytes) == \
            (50, 10, 0, sum(len(payload(i)) for i in range(50)))


def test_verify_reports_progress_stops_on_ctrl_c_and_finds_damage(tmp_path):
    path = record(tmp_path / "cam.qmf", count=300, max_file_size_kib=8, max_files=32)
    seen = []
    with qmf.open(path) as fs:
        with pytest.raises(KeyboardInterrupt):
            fs.verify(progress=lambda p: os.kill(os.getpid(), signal.SIGINT))
        result = fs.verify(progress=seen.append)  # the reader works after a cancelled walk
        assert result and result.complete and len(result.files) > 2
        assert seen[-1] == 100
    data = bytearray(path.read_bytes())
    data[700] ^= 1
    path.write_bytes(bytes(data))
    with qmf.open(path) as fs:
        result = fs.verify()
        assert not result.authentic and result.files[0].status & qmf.FileStatus.TESTED
        assert "media-sample block" in result.files[0].damage.problem
        assert result.files[1].damage is None, "its own blocks are intact"


def test_bad_inputs_raise_named_errors(tmp_path):
    path = record(tmp_path / "cam.qmf", count=3, password="secret")
    with pytest.raises(qmf.MFS_E_BAD_PASSWORD) as e:
        qmf.open(path, password="wrong")
    assert e.value.code_name == "MFS_E_BAD_PASSWORD" and "MFS_E_BAD_PASSWORD" in str(e.value)
    with pytest.raises(qmf.ERROR_FILE_NOT_FOUND) as e:
        qmf.open(tmp_path / "missing.qmf")
    assert isinstance(e.value, FileNotFoundError)
    with pytest.raises(qmf.E_INVALIDARG):
        qmf.open(os.fsencode(tmp_path) + b"/bad\xff.qmf")

    fs = qmf.open(path, password="secret")
    samples = fs.samples(1)
    next(samples)
    fs.move_to(1, 20)
    with pytest.raises(qmf.MFS_E_WRONG_STATE, match="stale"):
        next(samples)
    fs.close()
    with pytest.raises(qmf.MFS_E_WRONG_STATE, match="closed"):
        fs.info

    w = qmf.Writer(tmp_path / "w.qmf", [qmf.Track(id=1, name="v", video=True)],
                   max_file_size_kib=64)
    with pytest.raises(qmf.MFS_E_FILE_FULL):
        w.write(1, 1, KEY_VIDEO, bytes(65 * 1024))
    w.stop()
    with pytest.raises(qmf.QuorError) as e:
        qmf.Writer(tmp_path / "w.qmf", [qmf.Track(id=1, name="v", video=True)])
    assert isinstance(e.value, FileExistsError)


def test_signing_key_seals_what_verify_seals_checks(tmp_path):
    key = tmp_path / "key"
    import subprocess
    try:
        subprocess.run(["openssl", "genpkey", "-algorithm", "ed25519", "-out", str(key)],
                       check=True, capture_output=True)
        subprocess.run(["openssl", "pkey", "-in", str(key), "-pubout", "-out", str(key) + ".pub"],
                       check=True, capture_output=True)
    except (OSError, subprocess.CalledProcessError):
        pytest.skip("no openssl program to make a key with")
    os.chmod(key, 0o600)
    path = record(tmp_path / "cam.qmf", signing_key=key)
    with qmf.open(path) as fs:
        checks = fs.verify_seals(str(key) + ".pub")
        assert [c.sealed_to_end for c in checks] == [True]
        assert "sealed to the end" in checks[0].description
