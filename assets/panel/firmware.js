// The firmware screens.
