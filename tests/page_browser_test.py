#!/usr/bin/python3
"""kestrel-exporter's live page in a real browser: Debian's chromium,
headless, driven by chromedriver through selenium. The exporter runs over
the counter library over NVML with the fake NVML behind it (tests/page/
two-gpus): two GPUs, some counters refused, the second GPU lost after a few
seconds.

usage: page_browser_test.py EXPORTER NVPMAPI_DIR FAKE_NVML_DIR SCRIPT OUT_DIR
Exit 0 when the page does all it should, 1 when not, 77 when chromium,
chromedriver or selenium is missing. Leaves screenshots in OUT_DIR.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

CHROMIUM = '/usr/bin/chromium'
CHROMEDRIVER = '/usr/bin/chromedriver'

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError:
    print('selenium is not installed (python3-selenium)')
    sys.exit(77)

# What the fake was scripted with, as the page must show it.
EXPECTED = {
    'gpu0_gpu_busy': '42 %',
    'gpu0_power_mw': '123.4 W',
    'gpu0_power_limit_mw': '250 W',
    'gpu0_temperature_c': '61 °C',
    'gpu0_sm_clock_mhz': '1395 MHz',
    'gpu0_memory_clock_mhz': '5001 MHz',
    'gpu0_pcie_rx_kbps': '1500 MB/s',
    'gpu0_pcie_tx_kbps': '250 MB/s',
    'gpu1_gpu_busy': '88 %',
    'gpu1_power_mw': '301 W',
    'gpu1_power_limit_mw': '350 W',
    'gpu1_temperature_c': '72 °C',
    'gpu1_sm_clock_mhz': '1980 MHz',
}
# Refused by the counter library: the fake offers no performance metrics.
REFUSED = ['gpu0_sm_activity', 'gpu1_sm_activity', 'gpu0_nvlink_rx_mibps']

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print('FAILED:', what)


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.2)
    check(False, f'{what} (waited {seconds} s)')
    return None


def start_exporter(exporter, nvpmapi, fake, script, log_path, calls_path):
    environment = dict(os.environ, LD_LIBRARY_PATH=f'{nvpmapi}:{fake}', KESTREL_NVML_SCRIPT=script,
                       KESTREL_NVML_CALLS=calls_path)
    log = open(log_path, 'w')
    process = subprocess.Popen([exporter, '--web.listen-address', '127.0.0.1:0'],
                               env=environment, stderr=log, stdout=subprocess.DEVNULL)
    for _ in range(100):
        with open(log_path) as text:
            found = re.search(r'msg="Listening on" address=127\.0\.0\.1:(\d+)', text.read())
        if found:
            return process, int(found.group(1))
        time.sleep(0.1)
    process.kill()
    with open(log_path) as text:
        print('the exporter did not start:\n' + text.read())
    sys.exit(1)


def browser(width, height):
    options = Options()
    options.binary_location = CHROMIUM
    for argument in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage',
                     f'--window-size={width},{height}', '--lang=en-US'):
        options.add_argument(argument)
    options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def shown_values(driver):
    return {element.get_attribute('data-counter'): element.text
            for element in driver.find_elements(By.CSS_SELECTOR, '.value[data-counter]')}


def chart_points(driver):
    return [int(element.get_attribute('data-points') or 0)
            for element in driver.find_elements(By.CSS_SELECTOR, '.chart')]


def lost_notice(driver, gpu):
    return driver.find_element(By.CSS_SELECTOR, f'section.gpu[data-gpu="{gpu}"] .lost').text


def console_problems(driver):
    return [entry['message'] for entry in driver.get_log('browser')
            if entry['level'] in ('SEVERE', 'WARNING')]


def horizontal_overflow(driver):
    return driver.execute_script(
        'return document.documentElement.scrollWidth - document.documentElement.clientWidth')


def rounds_in(calls_path, seconds):
    """How many readings the exporter takes in the next `seconds`: the fake
    NVML is asked for the first GPU's power once a reading."""
    def power_calls():
        with open(calls_path) as calls:
            return sum(1 for call in calls if call.startswith('nvmlDeviceGetPowerUsage 0000:17:00.0'))
    before = power_calls()
    time.sleep(seconds)
    return power_calls() - before


def main():
    exporter, nvpmapi, fake, script, out = sys.argv[1:6]
    for program in (CHROMIUM, CHROMEDRIVER):
        if not os.access(program, os.X_OK):
            print(f'{program} is not installed (chromium, chromium-driver)')
            return 77
    os.makedirs(out, exist_ok=True)
    work = tempfile.mkdtemp()
    calls = os.path.join(work, 'calls')
    process, port = start_exporter(exporter, nvpmapi, fake, script, os.path.join(work, 'log'), calls)
    url = f'http://127.0.0.1:{port}/'
    driver = None
    try:
        driver = browser(1280, 800)
        driver.get(url)

        # One section of charts per GPU, every chart with points.
        wait_for(lambda: len(chart_points(driver)) > 0 and min(chart_points(driver)) >= 3, 15,
                 'every chart has three points')
        sections = [element.get_attribute('data-gpu')
                    for element in driver.find_elements(By.CSS_SELECTOR, 'section.gpu')]
        check(sections == ['0', '1'], f'one section per GPU, in order: {sections}')
        titles = [element.text for element in
                  driver.find_elements(By.CSS_SELECTOR, 'section.gpu[data-gpu="0"] h3')]
        for title in ('Activity (%)', 'Clocks (MHz)', 'Power (W)', 'Temperature (°C)',
                      'Memory (GiB)', 'Transfer (MB/s)'):
            check(title in titles, f'GPU 0 has the chart {title}: {titles}')
        charts = driver.find_elements(By.CSS_SELECTOR, '.chart')
        drawn = [chart for chart in charts if chart.find_elements(By.TAG_NAME, 'canvas')]
        check(len(charts) > 0 and len(drawn) == len(charts), f'{len(drawn)} of {len(charts)} charts drawn')

        values = shown_values(driver)
        for counter, text in EXPECTED.items():
            check(values.get(counter) == text, f'{counter} shows {text!r}: {values.get(counter)!r}')
        for counter in REFUSED:
            check(counter not in values, f'the refused {counter} is not drawn')
        check(lost_notice(driver, '1') == '', 'GPU 1 is not lost yet')

        check(horizontal_overflow(driver) <= 0, 'no horizontal scroll at 1280x800')
        driver.save_screenshot(os.path.join(out, 'page-1280x800.png'))

        # The second GPU falls off the bus: said in words; the first goes on.
        notice = wait_for(lambda: lost_notice(driver, '1'), 15, 'GPU 1 is announced lost')
        check(notice is not None and notice.startswith('GPU 1 is lost'), f'the notice: {notice!r}')
        check(lost_notice(driver, '0') == '', 'GPU 0 is not lost')
        check(shown_values(driver).get('gpu1_power_mw') == '—', 'GPU 1 shows no power any more')
        check(shown_values(driver).get('gpu0_power_mw') == '123.4 W', 'GPU 0 still shows its power')

        # A phone's width: one column, nothing to scroll sideways.
        driver.set_window_size(390, 844)
        time.sleep(1.5)
        check(horizontal_overflow(driver) <= 0, 'no horizontal scroll at 390x844')
        driver.save_screenshot(os.path.join(out, 'page-390x844.png'))

        # Light or dark, as the browser is set.
        def brightness():
            colour = driver.execute_script('return getComputedStyle(document.body).backgroundColor')
            return sum(int(part) for part in re.findall(r'\d+', colour)[:3])
        check(brightness() > 600, 'light by default')
        driver.execute_cdp_cmd('Emulation.setEmulatedMedia',
                               {'features': [{'name': 'prefers-color-scheme', 'value': 'dark'}]})
        check(brightness() < 150, 'dark when the browser prefers it')
        driver.save_screenshot(os.path.join(out, 'page-dark.png'))

        # One reading a second while the page is shown; none while another
        # tab hides it; again once it is shown.
        shown = rounds_in(calls, 4)
        check(2 <= shown <= 5, f'4 s shown: about one reading a second, not {shown}')
        page = driver.current_window_handle
        driver.switch_to.new_window('tab')
        time.sleep(1.5)
        hidden = rounds_in(calls, 3)
        check(hidden == 0, f'3 s hidden: no reading, not {hidden}')
        driver.close()
        driver.switch_to.window(page)
        time.sleep(1)
        again = rounds_in(calls, 3)
        check(again >= 2, f'3 s shown again: readings again, not {again}')

        problems = console_problems(driver)
        check(problems == [], f'nothing in the browser console: {problems}')

        # The exporter goes away: the page says so, and keeps its charts.
        process.terminate()
        process.wait(10)
        status = wait_for(lambda: driver.find_element(By.ID, 'status').text, 5, 'a status line')
        check(status is not None and status.startswith('The exporter has not answered since'),
              f'the status line: {status!r}')
        check(shown_values(driver).get('gpu0_power_mw') == '123.4 W', 'the last values stay')
    finally:
        if driver is not None:
            driver.quit()
        process.terminate()
        process.wait(10)
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print(f'{len(failures)} failed')
        return 1
    print('the live page works')
    return 0


if __name__ == '__main__':
    sys.exit(main())
