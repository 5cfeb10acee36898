"""Tracks and parameters: from files and arrays, back to text, and every error path."""

import numpy as np
import pytest

import tarvo


def arrays(track):
    return dict(basin=track.basin, month=track.month, day=track.day, hour=track.hour, hours=track.hours,
                lat=track.lat, lon=track.lon, vmax_kt=track.vmax_kt, vpot=track.vpot, shear=track.shear,
                t600=track.t600, rh600=track.rh600)


def test_read_track_and_params(cases):
    t = tarvo.read_track(cases[0] / "track.in")
    assert len(t) == len(t.lat) > 3
    assert t.hours.dtype == np.int32 and t.lat.dtype == np.float32
    assert (np.diff(t.hours) > 0).all() and t.hours[0] <= 0
    p = tarvo.read_params(cases[0] / "params.in")
    assert isinstance(p.nudge_gain, float)


def test_to_text_reads_back_bit_for_bit(cases, tmp_path):
    t = tarvo.read_track(cases[0] / "track.in")
    odd = arrays(t)
    odd["lat"] = np.array(t.lat)
    odd["lat"][0] = np.float32(12.3456789)
    odd["lon"] = np.array(t.lon) - 360.0  # west longitudes, negative
    odd = tarvo.Track(**odd)
    path = tmp_path / "track.in"
    path.write_text(odd.to_text())
    back = tarvo.read_track(path)
    for key in ("hours", "lat", "lon", "vmax_kt", "vpot", "shear", "t600", "rh600"):
        assert getattr(back, key).tobytes() == getattr(odd, key).tobytes(), key
    assert (back.basin, back.month, back.day, back.hour) == (odd.basin, odd.month, odd.day, odd.hour)


@pytest.mark.parametrize("change, words", [
    (dict(lat=[10.0, 11.0]), "lat has 2 values"),
    (dict(month=13), "reference month 13"),
    (dict(day=31, month=2), "reference day 31"),
    (dict(hour=24), "reference hour 24"),
    (dict(month=1.5), "month is not a whole number"),
    (dict(basin="abc"), "basin code"),
    (dict(hours=[]), "hours must be a non-empty"),
    (dict(hours="x"), "hours must be"),
])
def test_bad_tracks_raise_input_error_naming_the_field(cases, change, words):
    fields = arrays(tarvo.read_track(cases[0] / "track.in"))
    fields.update(change)
    with pytest.raises(tarvo.InputError, match=words) as e:
        tarvo.Track(**fields, name="storm 9")
    assert isinstance(e.value, ValueError)
    assert e.value.path == "storm 9"


def test_bad_values_per_fix(cases):
    fields = arrays(tarvo.read_track(cases[0] / "track.in"))
    lat = np.array(fields["lat"])
    lat[2] = np.nan
    with pytest.raises(tarvo.InputError, match=r"fix 3 \(-?\d+ h\): lat \(latitude, degrees north\) is NaN"):
        tarvo.Track(**dict(fields, lat=lat))
    hours = np.array(fields["hours"])
    hours[3] = hours[2]
    with pytest.raises(tarvo.InputError, match="record 4: time"):
        tarvo.Track(**dict(fields, hours=hours))
    with pytest.raises(tarvo.InputError, match="no record at or before 0 h"):
        tarvo.Track(**dict(fields, hours=np.array(fields["hours"]) + 10000))
    with pytest.raises(tarvo.InputError, match="whole hours"):
        tarvo.Track(**dict(fields, hours=np.array(fields["hours"]) + 0.5))


def test_file_errors_name_the_file_and_line(tmp_path, cases):
    with pytest.raises(tarvo.InputError, match="cannot open") as e:
        tarvo.read_track(tmp_path / "missing.in")
    assert e.value.path == str(tmp_path / "missing.in") and e.value.line is None
    bad = tmp_path / "track.in"
    bad.write_text("title\n'al' 13 1 0\ncaption\n0 10 300 50 80 5 270 60\n")
    with pytest.raises(tarvo.InputError, match="reference month 13") as e:
        tarvo.read_track(bad)
    assert e.value.line == 2
    (tmp_path / "params.in").write_text("0.5\nhalf\n")
    with pytest.raises(tarvo.InputError, match="line 2") as e:
        tarvo.read_params(tmp_path / "params.in")
    assert e.value.line == 2
    with pytest.raises(tarvo.InputError, match="nudge_gain is not a number"):
        tarvo.Params(nudge_gain="lots")
    text = (cases[0] / "track.in").read_text().splitlines(keepends=True)
    text.insert(4, "6 x 1 1 1 1 1 1\n")
    bad.write_text("".join(text))
    assert len(tarvo.read_track(bad).skipped) == 1


@pytest.mark.parametrize("key", ["lat", "lon", "vmax_kt", "vpot", "shear", "t600", "rh600"])
@pytest.mark.parametrize("bad, shown", [(np.nan, "NaN"), (np.inf, "infinity"), (-np.inf, "-infinity")])
def test_a_value_that_is_not_finite_is_refused_naming_field_fix_and_storm(cases, key, bad, shown):
    fields = arrays(tarvo.read_track(cases[0] / "track.in"))
    values = np.array(fields[key], dtype=np.float64)
    values[4] = bad
    with pytest.raises(tarvo.InputError) as e:
        tarvo.Track(**dict(fields, **{key: values}), name="storm 9")
    hours = int(fields["hours"][4])
    assert str(e.value).startswith(f"storm 9: fix 5 ({hours} h): {key} (") and f") is {shown}; " in str(e.value)
    assert "fill it in" in str(e.value) and e.value.path == "storm 9"
    with pytest.raises(tarvo.InputError, match="nudge_gain is nan; it must be a finite number"):
        tarvo.Params(nudge_gain=float("nan"))


@pytest.mark.parametrize("code, kept", [("al", "al"), ("AL", "al"), ("ep", "ep"), ("EP", "ep"), ("Ep", "ep"),
                                        ("eP", "ep"), ("cp", "cp"), ("WP", "wp"), ("io", "io"), ("SH", "sh"),
                                        ("sl", "sl"), ("NA", "al"), ("NI", "io"), ("SI", "sh"), ("SP", "sh"),
                                        ("SA", "sl")])
def test_basin_codes_of_atcf_and_ibtracs_are_kept_as_tarvos(cases, code, kept):
    fields = arrays(tarvo.read_track(cases[0] / "track.in"))
    assert tarvo.Track(**dict(fields, basin=code)).basin == kept


@pytest.mark.parametrize("code", ["xx", "MM", "e", "", "  ", "us"])
def test_an_unknown_basin_code_is_refused_naming_it(cases, code):
    fields = arrays(tarvo.read_track(cases[0] / "track.in"))
    with pytest.raises(tarvo.InputError, match=f"the basin code '{code.ljust(2)}' is not one tarvo knows: give "
                                              "ATCF's al, ep, cp, wp, io, sh, sl"):
        tarvo.Track(**dict(fields, basin=code), name="s")


def test_29_february_only_with_a_leap_year(cases, tmp_path):
    fields = arrays(tarvo.read_track(cases[0] / "track.in"))
    leap = tarvo.Track(**dict(fields, month=2, day=29), year=2020)
    assert (leap.month, leap.day, leap.year) == (2, 29, 2020)
    with pytest.raises(tarvo.InputError, match="29 February of 2021, which is not a leap year"):
        tarvo.Track(**dict(fields, month=2, day=29), year=2021)
    with pytest.raises(tarvo.InputError, match="reference day 29 is not a day of month 2 without a year"):
        tarvo.Track(**dict(fields, month=2, day=29))
    with pytest.raises(tarvo.InputError, match="starts on 29 February, which track.in cannot hold"):
        leap.to_text()
