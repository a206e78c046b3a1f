"""The page of `vantorel serve` in headless Chromium, driven through chromedriver: files
that cannot be opened dropped on it (errors in words), the bundled sample opened, the slider
moved (quick previews and the progress indicator, then the exact result, compared pixel
for pixel with the command line's result shrunk the same way), a shown picture dragged
onto the page (nothing changes), the split view on a letterboxed photo and the map, Save
(the command line's bytes, also when clicked while the exact result is computed), no
console errors, a photo the server dropped opened again, and a phone's screen. Leaves a
screenshot of each view in the build folder: page_side.png, page_split.png, page_map.png,
page_phone.png.
    test_page_in_browser.py VANTOREL TEST_IMAGE SOURCE_DIR BUILD_DIR
"""
import base64
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from server_process import Checks, ServerProcess, command_line_result, read_file  # noqa: E402

vantorel, test_image, source_dir, build_dir = sys.argv[1:5]
sample = os.path.join(source_dir, "samples", "hazy_mountains.jpg")
checks = Checks()
scratch = tempfile.mkdtemp()
downloads = os.path.join(scratch, "downloads")
os.mkdir(downloads)


def start_browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + os.path.join(scratch, "profile"), "--window-size=1366,860",
                 "--force-device-scale-factor=1", "--force-color-profile=srgb"]:
        options.add_argument(flag)
    options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                              "download.prompt_for_download": False})
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
    return driver


# The pixels an <img> shows, as rows x cols x RGB.
SHOWN_PIXELS = """
const img = document.getElementById(arguments[0]);
const canvas = document.createElement('canvas');
canvas.width = img.naturalWidth;
canvas.height = img.naturalHeight;
const context = canvas.getContext('2d');
context.drawImage(img, 0, 0);
const data = context.getImageData(0, 0, canvas.width, canvas.height).data;
let text = '';
for (let i = 0; i < data.length; i += 0x8000) text += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
return [canvas.width, canvas.height, btoa(text)];
"""


def shown_pixels(driver, image_id):
    cols, rows, data = driver.execute_script(SHOWN_PIXELS, image_id)
    return numpy.frombuffer(base64.b64decode(data), numpy.uint8).reshape(rows, cols, 4)[:, :, :3]


def read_ppm(path):
    data = read_file(path)
    magic, cols, rows, top, pixels = data.split(maxsplit=4)
    assert magic == b"P6" and top == b"255"
    return numpy.frombuffer(pixels, numpy.uint8).reshape(int(rows), int(cols), 3)


def command_line_shrunk(thickness, cols, rows, *options):
    """The command line's result at `thickness`, shrunk to cols x rows as the server does."""
    subprocess.run([vantorel, *options, sample, "full.png", thickness], check=True, stdout=subprocess.DEVNULL)
    subprocess.run([test_image, "scale", "full.png", str(cols), str(rows), "shrunk.ppm", "area"], check=True)
    return read_ppm("shrunk.ppm")


def shown(driver):
    """What the result panel shows: kind (preview or exact), thickness, view, look; "" while
    loading. Read in one script: a preview may be swapped in between two separate reads."""
    return driver.execute_script("""
        const img = document.getElementById('after');
        if (!img.complete || img.naturalWidth === 0) return ['', '', '', ''];
        return [img.dataset.kind || '', img.dataset.thickness || '', img.dataset.view || '',
                img.dataset.look || ''];""")


def wait_for_exact(driver, thickness, view="result", look="classic", timeout=60):
    WebDriverWait(driver, timeout).until(lambda d: shown(d) == ["exact", thickness, view, look])


os.chdir(scratch)
server = ServerProcess(vantorel)
driver = None
try:
    driver = start_browser()
    driver.get(server.url)
    checks.check(driver.title.startswith("Vantorel"), "the page loads: " + driver.title)

    # Files dropped on the page that cannot be opened: the reason in words.
    subprocess.run([test_image, "craft", "claimed_size", "200000", "200000", "huge.png"], check=True)
    for name, data, words in [("notes.jpg", b"this is not a picture\n", "not an image"),
                              ("huge.png", read_file("huge.png"), "memory")]:
        driver.execute_script("""
            const file = new File([Uint8Array.from(atob(arguments[1]), c => c.charCodeAt(0))], arguments[0]);
            const transfer = new DataTransfer();
            transfer.items.add(file);
            document.getElementById('stage').dispatchEvent(
                new DragEvent('drop', {dataTransfer: transfer, bubbles: true, cancelable: true}));
        """, name, base64.b64encode(data).decode())
        WebDriverWait(driver, 30).until(lambda d: name in d.find_element(By.ID, "error").text)
        message = driver.find_element(By.ID, "error").text
        checks.check(words in message and driver.find_element(By.ID, "error").is_displayed(),
                     "a dropped %s is refused in words: %s" % (name, message))
    # Chromium logs the refused uploads (400, 413) as console errors; from here on there must be none.
    driver.get_log("browser")

    # The sample: its size, then the exact result at the slider's first value.
    driver.find_element(By.ID, "file").send_keys(sample)
    wait_for_exact(driver, "0.90")
    info = driver.find_element(By.ID, "picture-info").text
    checks.check("1600 × 1066" in info, "the picture's size is shown: " + info)
    checks.check(not driver.find_element(By.ID, "error").is_displayed(), "the earlier error is gone")
    checks.check(not driver.find_element(By.ID, "drop-hint").is_displayed(), "the drop hint is hidden")
    first = shown_pixels(driver, "after")
    driver.save_screenshot(os.path.join(build_dir, "page_side.png"))

    # A shown picture pressed and dragged onto the page (missing the divider) is no photo
    # to open: the photo, its name and its id stay.
    # (`picture` is the page script's own state.)
    held_id = driver.execute_script("return picture.id;")
    ActionChains(driver).click_and_hold(driver.find_element(By.ID, "after")).move_by_offset(-200, 30).pause(0.3) \
        .move_by_offset(-100, 0).release().perform()
    time.sleep(2)
    checks.check(driver.find_element(By.ID, "picture-info").text == info
                 and driver.execute_script("return picture.id;") == held_id,
                 "dragging a shown picture leaves the photo: %s" % driver.find_element(By.ID, "picture-info").text)

    # Log every picture the result panel shows while the slider is dragged.
    # and whether the progress indicator is seen, with its text, while the exact one is computed.
    driver.execute_script("""
        window.shownLog = [];
        new MutationObserver(() => {
          const d = document.getElementById('after').dataset;
          window.shownLog.push(d.kind + ' ' + d.thickness);
        }).observe(document.getElementById('after'), {attributes: true, attributeFilter: ['data-thickness', 'data-kind']});
        window.progressLog = [];
        new MutationObserver(() => {
          const p = document.getElementById('progress');
          window.progressLog.push(p.hidden ? 'hidden' : 'shown: ' + p.innerText.trim());
        }).observe(document.getElementById('progress'), {attributes: true, attributeFilter: ['hidden']});
    """)
    slider = driver.find_element(By.ID, "thickness")
    width = slider.size["width"]
    actions = ActionChains(driver, duration=0).click_and_hold(slider)
    # From the middle (0.55) towards the left end, in steps, pausing as a hand does.
    for _ in range(6):
        actions.move_by_offset(-width // 16, 0).pause(0.12)
    actions.release().perform()
    final = driver.find_element(By.ID, "thickness").get_attribute("value")
    final = "%.2f" % float(final)
    checks.check(float(final) < 0.55, "the slider moved left: " + final)
    wait_for_exact(driver, final)
    log = driver.execute_script("return window.shownLog;")
    previews = [entry for entry in log if entry.startswith("preview ")]
    checks.check(len(previews) >= 1, "quick previews were shown while the slider moved: %r" % log)
    checks.check(log[-1] == "exact " + final, "it settles on the exact result: %r" % log)
    progress = driver.execute_script("return window.progressLog;")
    checks.check(any(entry.startswith("shown: Computing the full-size result at") for entry in progress)
                 and progress[-1] == "hidden" and not driver.find_element(By.ID, "progress").is_displayed(),
                 "the progress indicator showed while the exact result was computed, then went: %r" % progress)
    checks.check(driver.find_element(By.ID, "after-state").text == "· exact"
                 and driver.find_element(By.ID, "status").text.startswith("Exact result at " + final),
                 "the label and the status line agree: %r, %r" % (driver.find_element(By.ID, "after-state").text,
                                                                   driver.find_element(By.ID, "status").text))
    settled = shown_pixels(driver, "after")
    checks.check(settled.shape == first.shape and numpy.abs(settled.astype(int) - first).mean() > 1,
                 "the shown result changed with the thickness")
    rows, cols = settled.shape[:2]
    expected = command_line_shrunk(final, cols, rows)
    difference = numpy.abs(settled.astype(int) - expected).max()
    checks.check(difference == 0, "the shown result is the command line's, shrunk: largest difference %d" % difference)
    checks.check(cols <= 1600 and cols >= 300, "shrunk for the screen: %d x %d" % (cols, rows))

    # The keyboard moves the slider too, and the exact result follows.
    slider.send_keys(Keys.ARROW_RIGHT)
    stepped = "%.2f" % (float(final) + 0.01)
    wait_for_exact(driver, stepped)

    # Split view: one place for both, a divider moved from the keyboard.
    driver.find_element(By.CSS_SELECTOR, "input[name=view][value=split]").click()
    checks.check(driver.find_element(By.ID, "stage").get_attribute("data-view") == "split", "split view")
    divider = driver.find_element(By.ID, "divider")
    checks.check(divider.is_displayed(), "the divider is shown")
    for _ in range(5):
        divider.send_keys(Keys.ARROW_LEFT)
    checks.check(divider.get_attribute("aria-valuenow") == "40", "the divider moved: " +
                 str(divider.get_attribute("aria-valuenow")))
    wait_for_exact(driver, stepped)
    before_box = driver.find_element(By.ID, "before").rect
    after_box = driver.find_element(By.ID, "after").rect
    checks.check(abs(before_box["x"] - after_box["x"]) < 1 and abs(before_box["width"] - after_box["width"]) < 1,
                 "before and after lie on each other: %r %r" % (before_box, after_box))
    # The photo is letterboxed (narrower than the stage): near either end the divider and
    # both labels still lie on the picture.
    stage_box = driver.find_element(By.ID, "stage").rect
    checks.check(after_box["width"] < stage_box["width"] - 100, "the photo is letterboxed in the split view")
    for key in [Keys.HOME, Keys.END]:
        divider.send_keys(key)
        divider.send_keys(Keys.ARROW_LEFT if key == Keys.END else Keys.ARROW_RIGHT)
        line = divider.rect["x"] + divider.rect["width"] / 2
        captions = driver.find_elements(By.CSS_SELECTOR, "#compare figcaption")
        checks.check(after_box["x"] < line < after_box["x"] + after_box["width"] and all(
            after_box["x"] <= c.rect["x"] and c.rect["x"] + c.rect["width"] <= after_box["x"] + after_box["width"]
            for c in captions), "the divider (at %.0f) and the labels lie on the picture %r" % (line, after_box))
    divider.send_keys(Keys.HOME)
    for _ in range(5):
        divider.send_keys(Keys.PAGE_UP)
    driver.save_screenshot(os.path.join(build_dir, "page_split.png"))

    # The transmission map: grey, and exact once it rests.
    driver.find_element(By.CSS_SELECTOR, "input[name=view][value=map]").click()
    wait_for_exact(driver, stepped, "map")
    grey = shown_pixels(driver, "after")
    checks.check((grey[:, :, 0] == grey[:, :, 1]).all() and (grey[:, :, 1] == grey[:, :, 2]).all()
                 and grey.std() > 5, "the map is a grey picture with content")
    driver.save_screenshot(os.path.join(build_dir, "page_map.png"))
    driver.find_element(By.CSS_SELECTOR, "input[name=view][value=side]").click()
    wait_for_exact(driver, stepped)

    # Save: the command line's bytes, as JPEG (default quality) and as PNG.
    for format_value, extension in [("jpg", "jpg"), ("png", "png")]:
        driver.execute_script("const s = document.getElementById('format'); s.value = arguments[0];"
                              "s.dispatchEvent(new Event('change'));", format_value)
        driver.find_element(By.ID, "save").click()
        saved = os.path.join(downloads, "hazy_mountains_dehazed." + extension)
        deadline = time.time() + 60
        while not os.path.exists(saved) and time.time() < deadline:
            time.sleep(0.2)
        time.sleep(0.5)
        expected = command_line_result(vantorel, sample, "expected." + extension, stepped)
        checks.check(os.path.exists(saved) and read_file(saved) == expected,
                     "Save as %s writes the command line's bytes" % extension)

    # The look, switched from the keyboard: the exact result and the saved file follow it.
    driver.find_element(By.CSS_SELECTOR, "input[name=look][value=classic]").send_keys(Keys.ARROW_RIGHT)
    wait_for_exact(driver, stepped, look="natural")
    natural = shown_pixels(driver, "after")
    rows, cols = natural.shape[:2]
    difference = numpy.abs(natural.astype(int) - command_line_shrunk(stepped, cols, rows, "--look", "natural")).max()
    checks.check(difference == 0, "the natural look shown is the command line's, shrunk: largest difference %d"
                 % difference)
    saved = os.path.join(downloads, "hazy_mountains_dehazed.png")
    if os.path.exists(saved):
        os.remove(saved)  # the classic one saved above, so that the new one gets its name
    driver.find_element(By.ID, "save").click()
    deadline = time.time() + 60
    while not os.path.exists(saved) and time.time() < deadline:
        time.sleep(0.2)
    time.sleep(0.5)
    expected = command_line_result(vantorel, sample, "expected_natural.png", stepped, "--look", "natural")
    checks.check(os.path.exists(saved) and read_file(saved) == expected,
                 "Save in the natural look writes the command line's --look natural bytes")

    # Save clicked while the full-size result is computed waits for it, then says so.
    driver.execute_script("const s = document.getElementById('format'); s.value = 'png';"
                          "s.dispatchEvent(new Event('change'));")
    os.remove(saved)
    slider.send_keys(Keys.ARROW_RIGHT)
    later = "%.2f" % (float(stepped) + 0.01)
    driver.find_element(By.ID, "save").click()
    WebDriverWait(driver, 60).until(lambda d: d.find_element(By.ID, "status").text.startswith("Saved "))
    deadline = time.time() + 60
    while not os.path.exists(saved) and time.time() < deadline:
        time.sleep(0.2)
    time.sleep(0.5)
    expected = command_line_result(vantorel, sample, "expected_later.png", later, "--look", "natural")
    checks.check(os.path.exists(saved) and read_file(saved) == expected and shown(driver)[:2] == ["exact", later],
                 "Save while computing: the exact result shown, then the command line's bytes saved")

    errors = [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
    checks.check(errors == [], "no console errors: %r" % errors)

    # The server drops the photo (another tab, --max-pictures): the page offers to open it
    # again from the file it still holds.
    picture_id = driver.execute_script("return picture.id;")
    checks.check(server.request("DELETE", "/api/pictures/" + picture_id)[0] == 204, "the photo is dropped")
    slider.send_keys(Keys.ARROW_LEFT)
    WebDriverWait(driver, 30).until(lambda d: d.find_element(By.ID, "reopen").is_displayed())
    checks.check("no longer holds" in driver.find_element(By.ID, "error").text, "the page says the photo is gone")
    driver.find_element(By.ID, "reopen").click()
    WebDriverWait(driver, 60).until(lambda d: d.execute_script("return picture.id;") not in (picture_id, None))
    wait_for_exact(driver, stepped, look="natural")
    checks.check(not driver.find_element(By.ID, "error").is_displayed()
                 and "hazy_mountains.jpg" in driver.find_element(By.ID, "picture-info").text,
                 "the photo is open again")

    # The 16-bit choices of Save are offered for a 16-bit photo only, and write 16 bits.
    deep_choices = "return [...document.querySelectorAll('#format option[data-deep]')].map(o => o.hidden);"
    checks.check(driver.execute_script(deep_choices) == [True, True], "an 8-bit photo: no 16-bit choices")
    subprocess.run([test_image, "scale", sample, "240", "160", "photo.png"], check=True)
    subprocess.run([test_image, "deepen", "photo.png", os.path.join(scratch, "deep.png")], check=True)
    driver.find_element(By.ID, "file").send_keys(os.path.join(scratch, "deep.png"))
    WebDriverWait(driver, 60).until(lambda d: d.execute_script("return picture.name;") == "deep.png")
    wait_for_exact(driver, stepped, look="natural")
    checks.check("16 bits" in driver.find_element(By.ID, "picture-info").text
                 and driver.execute_script(deep_choices) == [False, False],
                 "a 16-bit photo: said so, and the 16-bit choices offered")
    driver.execute_script("const s = document.getElementById('format'); s.value = 'tif16';"
                          "s.dispatchEvent(new Event('change'));")
    driver.find_element(By.ID, "save").click()
    saved = os.path.join(downloads, "deep_dehazed.tif")
    deadline = time.time() + 60
    while not os.path.exists(saved) and time.time() < deadline:
        time.sleep(0.2)
    time.sleep(0.5)
    expected = command_line_result(vantorel, os.path.join(scratch, "deep.png"), "expected_deep.tif", stepped,
                                   "--look", "natural", "--depth", "16")
    info = subprocess.run([test_image, "info", saved], capture_output=True, text=True).stdout.split()
    checks.check(os.path.exists(saved) and read_file(saved) == expected and info[3:] == ["16"],
                 "Save as 16-bit TIFF writes the command line's 16-bit bytes: %r" % info)

    # A phone: nothing wider than the screen with a long file name, the pictures stacked,
    # one of them on the first screen.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 390, "height": 844, "deviceScaleFactor": 1, "mobile": True})
    long_name = os.path.join(scratch, "a_photo_from_the_holiday_with_a_very_long_file_name_"
                                      "that_goes_on_and_on_without_any_spaces_at_all_2026.jpg")
    shutil.copy(sample, long_name)
    driver.find_element(By.ID, "file").send_keys(long_name)
    WebDriverWait(driver, 60).until(lambda d: d.execute_script("return picture.name;") == os.path.basename(long_name))
    wait_for_exact(driver, stepped, look="natural")
    widths = driver.execute_script("return [document.documentElement.scrollWidth, window.innerWidth];")
    before_box = driver.find_element(By.ID, "before").rect
    after_box = driver.find_element(By.ID, "after").rect
    checks.check(widths[0] <= widths[1], "at 390 x 844 the page is not wider than the window: %r" % widths)
    checks.check(before_box["y"] + before_box["height"] <= after_box["y"] and before_box["y"] + 40 < 844,
                 "on a phone the pictures are stacked, the first on the first screen: %r %r" % (before_box, after_box))
    driver.save_screenshot(os.path.join(build_dir, "page_phone.png"))
finally:
    if driver is not None:
        driver.quit()
    status = server.stop()
    checks.check(status == 0, "the server stopped cleanly: %s" % status)
    shutil.rmtree(scratch)

sys.exit(checks.finish())
