// The settings property sheet.
#pragma once

// Runs the sheet modally: OK saves the whole record, Cancel puts it back.
// A save that fails is shown, and the sheet stays open with what was entered.
int sheet_show(void);

// The next sheet opens on the account page, where a first start begins.
void sheet_start_on_account(void);

// Enables or disables OK, Cancel and the tab strip during a connection test.
void sheet_enable_buttons(int enable);

// Locks the account page's inputs while a connection test runs; the test
// button then reads "中止", and "テスト" again afterwards.
void account_enable_controls(int enable);

// Shows what a search for the server's settings found on the account page:
// the encryption and APOP choices, as if the user had made them.
void account_show_found(int security, int use_apop);
