# vesk_test(clipboard_tests ...) lists this area's tests.
