"""Screenshots of the virtual display the tests share, and what is drawn in
them: the windows have no frames here, so screen rectangles from the driver
are the pixels to look at."""
import os
import subprocess


def display():
    if os.environ.get("DISPLAY"):
        return os.environ["DISPLAY"]
    with open(os.environ["WINEPREFIX"].rstrip("/") + ".session/display") as f:
        return ":" + f.read().strip()


class Image:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.rgb[i:i + 3])


def grab(rect, png=None):
    """The screen rectangle (left, top, right, bottom) as an Image; also
    written to png when given."""
    left, top, right, bottom = rect
    width, height = right - left, bottom - top
    geometry = f"{width}x{height}+{left}+{top}"
    env = dict(os.environ, DISPLAY=display())
    raw = subprocess.run(["import", "-window", "root", "-crop", geometry, "-depth", "8", "rgb:-"],
                         env=env, check=True, stdout=subprocess.PIPE).stdout
    if png:
        os.makedirs(os.path.dirname(os.path.abspath(png)), exist_ok=True)
        subprocess.run(["import", "-window", "root", "-crop", geometry, png], env=env, check=True)
    return Image(width, height, raw[:width * height * 3])


def rows_with(image, colour, x_from=0, x_to=None):
    """Rows (from the top) that hold at least one pixel of exactly colour."""
    x_to = image.width if x_to is None else x_to
    return [y for y in range(image.height)
            if any(image.pixel(x, y) == colour for x in range(x_from, x_to))]


def menu_items(image, background=None):
    """Bands of drawn rows in a menu popup, top to bottom, each as a dict:
    top, bottom, checked (ink in the check-mark column), greyed (its text has
    no dark pixel), highlighted (ink is most of it: the selection's colour).
    Separators, drawn across the whole width, are left out. The check and
    grey readings of a highlighted item mean nothing."""
    background = background or image.pixel(image.width // 2, 1)
    def ink(p):
        return sum(abs(a - b) for a, b in zip(p, background)) > 60
    def dark(p):
        return max(p) < 60
    bands = []
    y = 0
    while y < image.height:
        if any(ink(image.pixel(x, y)) for x in range(3, image.width - 3)):
            top = y
            while y < image.height and any(ink(image.pixel(x, y)) for x in range(3, image.width - 3)):
                y += 1
            bands.append((top, y))
        y += 1
    items = []
    check_column = 14  # the check mark sits left of it, the texts start right of it
    for top, bottom in bands:
        if bottom - top <= 3:
            continue  # a separator line
        pixels = [(x, yy) for yy in range(top, bottom) for x in range(3, image.width - 3)]
        text = [image.pixel(x, yy) for x, yy in pixels if x > check_column + 3]
        check = [image.pixel(x, yy) for x, yy in pixels if x <= check_column]
        items.append({
            "top": top, "bottom": bottom,
            "checked": any(ink(p) for p in check),
            "greyed": not any(dark(p) for p in text) and any(ink(p) for p in text),
            "highlighted": 2 * sum(1 for x, yy in pixels if ink(image.pixel(x, yy))) > len(pixels),
        })
    return items
