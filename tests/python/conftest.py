pytest_plugins = ["usb_file_utility.pytest_plugin", "pytester"]

# The example suite needs a device on --usb-port; test_device.py runs it against a simulator.
collect_ignore = ["example"]
