# Tests of this area are listed here.
