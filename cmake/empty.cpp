// Keeps `orv` a regular library target; its code comes from the subsystem object libraries.
