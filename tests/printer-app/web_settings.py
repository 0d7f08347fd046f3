#!/usr/bin/python3
"""Changes a label printer's settings on the app's web page in headless
Chromium, after checking that the page names them as the PPD does:
web_settings.py PRINTER-PAGE-URL DARKNESS-PERCENT HALFTONE DRAFT-HALFTONE [PNG]
(DRAFT-HALFTONE: what print-quality draft prints with; PNG: a screenshot of
the page before saving)"""
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.support.ui import Select, WebDriverWait


def saved_banner(browser):
    """The banner of the page the form's submission loads, once it is there."""
    for banner in browser.find_elements(By.CLASS_NAME, "banner"):
        if "Changes saved" in banner.text:
            return banner.text
    return None


def shown_names(browser, name):
    """The name a setting's row shows and its choices' names by value."""
    select = browser.find_element(By.NAME, name)
    row = select.find_element(By.XPATH, "ancestor::tr/th").text
    return row, {o.get_attribute("value"): o.text for o in Select(select).options}


def main():
    url, darkness, halftone, draft = sys.argv[1:5]
    with tempfile.TemporaryDirectory(prefix="vorcp-chromium-") as profile:
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for arg in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                    "--no-first-run", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync",
                    "--window-size=1280,2400", "--user-data-dir=" + profile):
            options.add_argument(arg)
        browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        try:
            browser.set_page_load_timeout(30)
            browser.get(url + "/printing")
            row, choices = shown_names(browser, "vorcp-halftone")
            if row != "Halftoning:" or choices.get(halftone) != "Error diffusion (Floyd-Steinberg)":
                sys.exit("the page names the halftone %r with the choices %r" % (row, choices))
            row, choices = shown_names(browser, "vorcp-quality-draft-halftone")
            if row != "Halftoning for Draft Quality:" or choices.get("threshold") != \
                    "Threshold (text and barcodes)":
                sys.exit("the page names draft's halftone %r with the choices %r" % (row, choices))
            Select(browser.find_element(By.NAME, "print-darkness")).select_by_value(darkness)
            Select(browser.find_element(By.NAME, "vorcp-halftone")).select_by_value(halftone)
            Select(browser.find_element(By.NAME, "vorcp-quality-draft-halftone")).select_by_value(
                draft)
            save = browser.find_element(By.CSS_SELECTOR, "input[type=submit]")
            browser.execute_script("arguments[0].scrollIntoView({block: 'center'});", save)
            if len(sys.argv) > 5:
                browser.save_screenshot(sys.argv[5])
            save.click()
            # The click may return before the answer page has loaded, above
            # all on a busy machine: wait for its banner.
            WebDriverWait(browser, 30, ignored_exceptions=[StaleElementReferenceException]).until(
                saved_banner, "the page did not report the settings saved")
            # The saved settings show when the page is opened again.
            browser.get(url + "/printing")
            for name, value in (("vorcp-halftone", halftone), ("vorcp-quality-draft-halftone", draft)):
                shown = Select(browser.find_element(By.NAME, name))
                if shown.first_selected_option.get_attribute("value") != value:
                    sys.exit("the page shows another %s after saving" % name)
            print("web page: print-darkness %s%%, halftone %s, draft's halftone %s saved" %
                  (darkness, halftone, draft))
        finally:
            browser.quit()


if __name__ == "__main__":
    main()
