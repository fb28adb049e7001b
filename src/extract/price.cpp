// Placeholder so the library configures; replaced by the price evidence and verdict.
