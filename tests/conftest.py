import pytest


@pytest.fixture
def panic_exception_type():
    """The module's PanicException type, which is not a module attribute: made on the module's
    first taken exception, then found among BaseException's subclasses."""
    import tolvo_rs

    try:
        tolvo_rs.StdAstFileSystem(["\udc80"])
    except UnicodeEncodeError:
        pass
    matches = [t for t in BaseException.__subclasses__() if t.__name__ == "PanicException"]
    assert len(matches) == 1
    return matches[0]
