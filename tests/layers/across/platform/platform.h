// The lowest layer.
